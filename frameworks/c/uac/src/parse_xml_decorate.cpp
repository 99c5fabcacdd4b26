// Decoration: the tracker records that index every known element's children
// by tag number.
//
// The tree is walked depth first without recursion (an explicit stack of
// frames, one per open element), so any depth is safe.  While an element's
// children are scanned its record is kept at full width (a slot per tag) in a
// scratch buffer reused for every element at the same depth; each known child
// is appended to the end of its tag's chain (the slot when empty, else the
// previous same-tag sibling's next field, found through a per-tag tail kept
// beside the slots, so appending is O(1) however many siblings share a
// tag).  When the scan ends the record is compacted to the tags from its
// lowest to its highest filled one (from 1 up: slot 0 is never kept) and the
// compact copy, taken from the caller's heap, replaces the scratch record.
// A compact slot is a 16-bit index into the list of first children that
// follows the slot table: configuration entries set a handful of options
// whose tag numbers lie far apart, and a pointer per tag of such a range
// would cost several times the document itself.  Look-up stays two array
// reads.  The scratch record remembers which tags it filled, so compacting
// and clearing it cost the number of children plus a zeroed slot table: the
// whole walk is linear in the number of nodes and the slot ranges.  The heap
// holds only compact records.
//
// The XML tracker above the top-level elements is never compacted and may
// already hold chains from earlier decorations (the roots of several files);
// the first append per tag in a call walks such a chain to its end once, and
// every link changed in a reused tracker is remembered so that a failed call
// can put the tracker back as it was.
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "cvplatform/cv_log.h"
#include "parse_xml_internal.h"

namespace {

constexpr std::size_t kSlotCount = static_cast<std::size_t>(PARSE_XML_TAG_COUNT);
/* The XML tracker's range reaches PARSE_XML_TAG_COUNT, so it holds one slot
 * more than an element's full-width record. */
constexpr std::size_t kTrackerSlotCount = kSlotCount + 1;
constexpr std::uint32_t kNoTag = static_cast<std::uint32_t>(PARSE_XML_TAG_COUNT);

/* Bytes of a full-width record of `slots` pointer slots. */
std::size_t record_size(std::size_t slots) {
    return sizeof(parse_xml_tracker) + slots * sizeof(xmlNode *);
}

/* The full-width record of the elements at one depth, with the tails of its
 * chains, the tags filled so far (from 1 up, in the order first filled) and
 * their range. */
struct scratch_record {
    std::unique_ptr<unsigned char[]> storage;
    std::unique_ptr<parse_xml_tracker *[]> tails;  /* last record of each tag's chain */
    std::unique_ptr<parse_xml_slot_index[]> filled;
    std::uint32_t distinct = 0;                    /* entries of `filled` */
    std::uint32_t lowest = kNoTag;
    std::uint32_t highest = 0;
    bool slot0_used = false;

    bool allocate() {
        storage.reset(new (std::nothrow) unsigned char[record_size(kSlotCount)]);
        tails.reset(new (std::nothrow) parse_xml_tracker *[kSlotCount]);
        filled.reset(new (std::nothrow) parse_xml_slot_index[kSlotCount]);
        if (!storage || !tails || !filled) return false;
        std::memset(storage.get(), 0, record_size(kSlotCount));
        std::memset(tails.get(), 0, kSlotCount * sizeof(parse_xml_tracker *));
        return true;
    }
    parse_xml_tracker *record() { return reinterpret_cast<parse_xml_tracker *>(storage.get()); }

    /* Empties the slots and tails that were filled, for the next element. */
    void clear() {
        xmlNode **slots = parse_xml_tracker_slots(record());
        for (std::uint32_t i = 0; i < distinct; ++i) {
            slots[filled[i]] = nullptr;
            tails[filled[i]] = nullptr;
        }
        if (slot0_used) {
            slots[0] = nullptr;
            tails[0] = nullptr;
        }
        distinct = 0;
        lowest = kNoTag;
        highest = 0;
        slot0_used = false;
    }
};

/* Tag numbers of element names by the names' addresses.  A parsed document
 * keeps its element names in a dictionary, one copy per distinct name, so a
 * few addresses recur throughout the tree and most look-ups skip the hash
 * and the comparison; a name stored elsewhere only costs a miss. */
class tag_cache {
public:
    std::int32_t tag_of(const xmlChar *name) {
        /* Dictionary names lie a few bytes apart: mix every address bit. */
        const std::uint64_t mixed =
            static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(name)) *
            0x9E3779B97F4A7C15ull;
        entry &e = entries_[mixed >> (64 - kEntryBits)];
        if (e.name != name) {
            e.name = name;
            e.tag = parse_xml_tag_index(reinterpret_cast<const char *>(name));
        }
        return e.tag;
    }

private:
    static constexpr unsigned kEntryBits = 6;
    static constexpr std::size_t kEntries = std::size_t{1} << kEntryBits;
    struct entry {
        const xmlChar *name = nullptr;
        std::int32_t tag = PARSE_XML_UNKNOWN_TAG;
    };
    entry entries_[kEntries];
};

/* A link of a reused XML tracker changed by this call, and its old value. */
struct undo_entry {
    xmlNode **link;
    xmlNode *old_value;
};

/* One open element (or the top level) of the walk. */
struct frame {
    xmlNode *element;   /* null for the top level */
    xmlNode *next_child;
    std::int32_t tag;
};

class decorator {
public:
    decorator(parse_xml_tracker *tracker, cv_uac_heap *heap) : tracker_(tracker), heap_(heap) {}

    cv_status run(xmlNode *top);
    const std::vector<undo_entry> &undo_log() const { return undo_; }

private:
    cv_status open_element(xmlNode *element, std::int32_t tag);
    cv_status close_element();
    void append_top(xmlNode *element, std::int32_t tag);
    void append_inner(scratch_record &parent, xmlNode *element, std::int32_t tag);
    void note_error(cv_status status);

    parse_xml_tracker *tracker_;
    cv_uac_heap *heap_;
    std::vector<frame> stack_;
    std::vector<scratch_record> scratch_;   /* scratch_[d]: record of the element at depth d+1 */
    std::vector<parse_xml_tracker *> top_tails_;
    std::vector<undo_entry> undo_;
    tag_cache tags_;
    cv_status error_ = CV_OK;
};

void decorator::note_error(cv_status status) {
    if (status == CV_OK || error_ != CV_OK) return;
    error_ = status;
    cv_log_debug("_update_err() changed error to %d", static_cast<int>(status));
}

/* Appends to a chain of the XML tracker, which may come from earlier calls. */
void decorator::append_top(xmlNode *element, std::int32_t tag) {
    xmlNode **slots = parse_xml_tracker_slots(tracker_);
    parse_xml_tracker *&tail = top_tails_[static_cast<std::size_t>(tag)];
    xmlNode **link = nullptr;
    if (!slots[tag]) {
        link = &slots[tag];
    } else {
        if (!tail) {
            tail = parse_xml_get_tracker(slots[tag]);
            while (tail && tail->next_same_tag) tail = parse_xml_get_tracker(tail->next_same_tag);
        }
        if (!tail) return; /* a chain whose last element lost its record: leave it */
        link = &tail->next_same_tag;
    }
    undo_.push_back({link, *link});
    *link = element;
}

void decorator::append_inner(scratch_record &parent, xmlNode *element, std::int32_t tag) {
    xmlNode **slots = parse_xml_tracker_slots(parent.record());
    const auto index = static_cast<std::uint32_t>(tag);
    if (!slots[index]) {
        slots[index] = element;
        if (index != 0) parent.filled[parent.distinct++] = static_cast<parse_xml_slot_index>(index);
    } else if (parse_xml_tracker *tail = parent.tails[index]) {
        tail->next_same_tag = element;
    }
    if (index == 0) {
        parent.slot0_used = true;
        return;
    }
    if (index < parent.lowest) parent.lowest = index;
    if (index > parent.highest) parent.highest = index;
}

cv_status decorator::open_element(xmlNode *element, std::int32_t tag) {
    const std::size_t depth = stack_.size(); /* the new element's scratch index */
    if (depth == 1) {
        append_top(element, tag);
    } else {
        append_inner(scratch_[depth - 2], element, tag);
    }
    if (scratch_.size() < depth) {
        scratch_.emplace_back();
        if (!scratch_.back().allocate()) return CV_E_NO_MEMORY;
    }
    parse_xml_tracker *record = scratch_[depth - 1].record();
    /* The same text that parse_xml_get_node_text reads, so that searches
     * and readers of the element agree on its value. */
    const char *text = parse_xml_get_node_text(element);
    *record = parse_xml_tracker{element, nullptr, text, 0, kNoTag - 1, element->parent};
    element->_private = record;
    stack_.push_back({element, element->children, tag});
    return CV_OK;
}

/* Compacts the record of the innermost open element into the heap. */
cv_status decorator::close_element() {
    const frame closing = stack_.back();
    stack_.pop_back();
    scratch_record &scratch = scratch_[stack_.size() - 1];
    const parse_xml_tracker *full = scratch.record();

    const bool has_children = scratch.lowest <= scratch.highest;
    const std::uint32_t lowest = has_children ? scratch.lowest : kNoTag;
    const std::uint32_t highest = has_children ? scratch.highest : kNoTag;
    const std::size_t range = has_children ? highest - lowest + 1 : 0;
    const std::size_t children = scratch.distinct;

    auto *compact = static_cast<parse_xml_tracker *>(
        cv_uac_heap_alloc(heap_, parse_xml_compact_size(range, children),
                          alignof(parse_xml_tracker)));
    if (!compact) {
        closing.element->_private = nullptr;
        scratch.clear();
        return CV_E_NO_MEMORY;
    }
    *compact = *full;
    compact->lowest_tag = lowest;
    compact->highest_tag = highest;
    xmlNode *const *full_slots = parse_xml_tracker_slots(full);
    parse_xml_slot_index *slots = parse_xml_compact_slots(compact);
    xmlNode **list = parse_xml_compact_list(compact, range);
    std::memset(slots, 0, range * sizeof(parse_xml_slot_index));
    for (std::uint32_t i = 0; i < children; ++i) {
        const parse_xml_slot_index tag = scratch.filled[i];
        list[i] = full_slots[tag];
        slots[tag - lowest] = static_cast<parse_xml_slot_index>(i + 1);
    }
    closing.element->_private = compact;
    scratch.clear();

    /* Later same-tag siblings are linked behind this record. */
    const auto tag = static_cast<std::size_t>(closing.tag);
    if (stack_.size() == 1)
        top_tails_[tag] = compact;
    else
        scratch_[stack_.size() - 2].tails[tag] = compact;
    return CV_OK;
}

cv_status decorator::run(xmlNode *top) {
    top_tails_.assign(kSlotCount, nullptr);
    stack_.push_back({nullptr, top, PARSE_XML_UNKNOWN_TAG});
    while (!stack_.empty() && error_ == CV_OK) {
        frame &current = stack_.back();
        xmlNode *node = current.next_child;
        if (!node) {
            if (stack_.size() == 1) {
                stack_.pop_back();
            } else {
                note_error(close_element());
            }
            continue;
        }
        current.next_child = node->next;
        if (node->type != XML_ELEMENT_NODE) continue;
        const std::int32_t tag = tags_.tag_of(node->name);
        if (tag < 0) continue; /* unknown: neither indexed nor descended into */
        note_error(open_element(node, tag));
    }
    return error_;
}

parse_xml_tracker *new_xml_tracker(cv_uac_heap *heap) {
    auto *tracker = static_cast<parse_xml_tracker *>(cv_uac_heap_calloc(
        heap, record_size(kTrackerSlotCount), alignof(parse_xml_tracker)));
    if (!tracker) {
        cv_log_error("Unable to allocate XML tracker");
        return nullptr;
    }
    tracker->lowest_tag = 0;
    tracker->highest_tag = kNoTag;
    return tracker;
}

}  // namespace

parse_xml_tracker *parse_xml_get_tracker(const xmlNode *node) {
    if (!node || node->type != XML_ELEMENT_NODE) return nullptr;
    return static_cast<parse_xml_tracker *>(node->_private);
}

xmlNode *parse_xml_tracker_child(const parse_xml_tracker *record, std::int32_t tag) {
    if (!record || tag < 0 || tag >= PARSE_XML_TAG_COUNT) return nullptr;
    const auto index = static_cast<std::uint32_t>(tag);
    if (index < record->lowest_tag || index > record->highest_tag) return nullptr;
    const std::size_t slot = index - record->lowest_tag;
    if (!record->node) return parse_xml_tracker_slots(record)[slot]; /* the XML tracker */
    const parse_xml_slot_index entry = parse_xml_compact_slots(record)[slot];
    if (entry == 0) return nullptr;
    const std::size_t range = record->highest_tag - record->lowest_tag + 1;
    return parse_xml_compact_list(record, range)[entry - 1];
}

cv_status parse_xml_decorate_tree(xmlNode *top, parse_xml_tracker **holder, cv_uac_heap *heap) {
    if (!top || !heap) return CV_E_INVALID;
    parse_xml_tracker *tracker = holder ? *holder : nullptr;
    const bool made_here = tracker == nullptr;
    if (made_here) {
        tracker = new_xml_tracker(heap);
        if (!tracker) return CV_E_NO_MEMORY;
        if (holder) *holder = tracker;
    }

    decorator walk(tracker, heap);
    const cv_status status = walk.run(top);
    if (status == CV_OK) return CV_OK;

    (void)parse_xml_undecorate_tree(top);
    const std::vector<undo_entry> &undo = walk.undo_log();
    for (auto entry = undo.rbegin(); entry != undo.rend(); ++entry)
        *entry->link = entry->old_value;
    if (made_here && holder) *holder = nullptr;
    return status;
}

cv_status parse_xml_undecorate_tree(xmlNode *node) {
    if (!node) return CV_E_INVALID;
    /* Depth-first walk through the parent links: no stack, any depth. */
    xmlNode *const stop = node->parent;
    xmlNode *current = node;
    while (current) {
        current->_private = nullptr;
        if (current->type == XML_ELEMENT_NODE && current->children) {
            current = current->children;
            continue;
        }
        while (current && !current->next) {
            current = current->parent;
            if (current == stop) return CV_OK;
        }
        if (current) current = current->next;
    }
    return CV_OK;
}
