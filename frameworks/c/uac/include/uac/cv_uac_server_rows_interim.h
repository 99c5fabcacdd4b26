// Interim rows of the server-side classes, used while their catalogue files
// are not yet in the tree (cv_uac_server_classes.h picks the .def file when
// it is there).  X-macro lists of CV_UAC_OPTION(key, type, (path), default,
// lookup) rows, as in the catalogue files.
#pragma once

#define CV_UAC_PROVIDER_INTERIM_ROWS(X)                          \
    X(type, trimmed_char_ptr, (type), CV_NULL, CV_NULL)          \
    X(spec, trimmed_char_ptr, (spec), CV_NULL, CV_NULL)          \
    X(squash_user, trimmed_char_ptr, (squash_user), CV_NULL, CV_NULL)

#define CV_UAC_PROCESS_INTERIM_ROWS(X)                           \
    X(start, trimmed_char_ptr, (start), CV_NULL, CV_NULL)        \
    X(stop, trimmed_char_ptr, (stop), CV_NULL, CV_NULL)          \
    X(status, trimmed_char_ptr, (status), CV_NULL, CV_NULL)      \
    X(setup, trimmed_char_ptr, (setup), CV_NULL, CV_NULL)

#define CV_UAC_RPROXY_INTERIM_ROWS(X)                                        \
    X(proxy_port, u_int32_t, (proxy_port), "33001", CV_NULL)                 \
    X(host, trimmed_char_ptr, (host), CV_NULL, CV_NULL)                      \
    X(hosts, string_list, (hosts), CV_NULL, "host")                          \
    X(squash_user, trimmed_char_ptr, (squash_user), CV_NULL, CV_NULL)        \
    X(keyfile, trimmed_char_ptr, (keyfile), CV_NULL, CV_NULL)                \
    X(src_port_filtering, boolean, (src_port_filtering), "false", CV_NULL)   \
    X(balancing, trimmed_char_ptr, (balancing), CV_NULL, CV_NULL)

#define CV_UAC_DATABASE_INTERIM_ROWS(X)                                                   \
    X(adapter, trimmed_char_ptr, (adapter), "mysql", CV_NULL)                             \
    X(server, trimmed_char_ptr, (server), "127.0.0.1", CV_NULL)                           \
    X(port, u_int32_t, (port), "4406", CV_NULL)                                           \
    X(user, trimmed_char_ptr, (user), CV_NULL, CV_NULL)                                   \
    X(password, trimmed_char_ptr, (password), CV_NULL, CV_NULL)                           \
    X(database_name, trimmed_char_ptr, (database_name), CV_NULL, CV_NULL)                 \
    X(threads, u_int32_t, (threads), "1", CV_NULL)                                        \
    X(exit_on_database_error, boolean, (exit_on_database_error), "false", CV_NULL)        \
    X(session_progress, boolean, (session_progress), "true", CV_NULL)                     \
    X(session_progress_interval, u_int64_t, (session_progress_interval), "1", CV_NULL)    \
    X(file_events, boolean, (file_events), "true", CV_NULL)                               \
    X(file_progress, boolean, (file_progress), "true", CV_NULL)                           \
    X(file_errors, boolean, (file_errors), "true", CV_NULL)                               \
    X(file_progress_interval, u_int64_t, (file_progress_interval), "1", CV_NULL)          \
    X(files_per_session, u_int64_t, (files_per_session), "0", CV_NULL)                    \
    X(ignore_empty_files, boolean, (ignore_empty_files), "false", CV_NULL)                \
    X(ignore_skipped_files, boolean, (ignore_skipped_files), "false", CV_NULL)            \
    X(ignore_no_transfer_files, boolean, (ignore_no_transfer_files), "false", CV_NULL)    \
    X(rate_events, boolean, (rate_events), "true", CV_NULL)                               \
    X(node_registration, boolean, (node_registration), "true", CV_NULL)                   \
    X(buffer_capacity, u_int32_t, (buffer_capacity), "150000", "0;Unlimited:0xFFFFFFFF")

#define CV_UAC_CENTRAL_SERVER_INTERIM_ROWS(X)                                                   \
    X(address, trimmed_char_ptr, (address), "127.0.0.1", CV_NULL)                               \
    X(port, u_int32_t, (port), "40001", CV_NULL)                                                \
    X(backlog, int32_t, (backlog), "200", CV_NULL)                                              \
    X(schema_validation, lookup, (schema_validation), "enable", "disable:0;enable:1")           \
    X(raw_options, lookup, (raw_options), "disable", "disable:0;enable:1")                      \
    X(mgmt_backlog, int32_t, (mgmt_backlog), "200", CV_NULL)                                    \
    X(mgmt_port, u_int32_t, (mgmt_port), "0", CV_NULL)                                          \
    X(transfer_list_path, trimmed_char_ptr, (transfer_list_path), "", CV_NULL)                  \
    X(persistent_store, lookup, (persistent_store), "enable", "disable:0;enable:1")             \
    X(persistent_store_path, trimmed_char_ptr, (persistent_store_path), "", CV_NULL)            \
    X(persistent_store_max_age, u_int32_t, (persistent_store_max_age), "86400",                 \
      "0;Unlimited:0xFFFFFFFF")                                                                 \
    X(persistent_store_on_error, lookup, (persistent_store_on_error), "ignore", "ignore:0;exit:1") \
    X(event_buffer_capacity, u_int32_t, (event_buffer_capacity), "1000", CV_NULL)               \
    X(event_buffer_overrun, lookup, (event_buffer_overrun), "block", "drop:0;block:1")          \
    X(compact_on_startup, lookup, (compact_on_startup), "enable", "disable:0;enable:1")         \
    X(files_per_session, u_int64_t, (files_per_session), "1000000", CV_NULL)                    \
    X(file_errors, boolean, (file_errors), "true", CV_NULL)                                     \
    X(ignore_empty_files, boolean, (ignore_empty_files), "true", CV_NULL)                       \
    X(ignore_skipped_files, boolean, (ignore_skipped_files), "true", CV_NULL)                   \
    X(ignore_no_transfer_files, boolean, (ignore_no_transfer_files), "true", CV_NULL)           \
    X(db_synchronous, lookup, (db_synchronous), "off", "off:0;normal:1;full:2")                 \
    X(db_journal, lookup, (db_journal), "wal", "wal:0;delete:1;truncate:2;persist:3;memory:4")  \
    X(validation_timeout, u_int32_t, (validation_timeout), "300", CV_NULL)

#define CV_UAC_HTTP_SERVER_INTERIM_ROWS(X)                                                 \
    X(cert_file, trimmed_char_ptr, (cert_file), CV_NULL, CV_NULL)                          \
    X(key_file, trimmed_char_ptr, (key_file), CV_NULL, CV_NULL)                            \
    X(bind_address, trimmed_char_ptr, (bind_address), "0.0.0.0", CV_NULL)                  \
    X(mgmt_address, trimmed_char_ptr, (mgmt_address), CV_NULL, CV_NULL)                    \
    X(restartable_transfers, boolean, (restartable_transfers), "true", CV_NULL)            \
    X(session_activity_timeout, u_int64_t, (session_activity_timeout), "20", CV_NULL)      \
    X(http_port, u_int32_t, (http_port), "8080", CV_NULL)                                  \
    X(https_port, u_int32_t, (https_port), "8443", CV_NULL)                                \
    X(enable_http, boolean, (enable_http), "false", CV_NULL)                               \
    X(enable_https, boolean, (enable_https), "false", CV_NULL)                             \
    X(persistent_connection, boolean, (persistent_connection), "false", CV_NULL)           \
    X(listen_backlog, int32_t, (listen_backlog), "20", CV_NULL)

#define CV_UAC_CLIENT_INTERIM_ROWS(X)                                                           \
    X(cvsync_management_activity_logging, boolean, (cvsync_management_activity_logging), "true", \
      CV_NULL)                                                                                  \
    X(cvsync_kvstore_activity_logging, boolean, (cvsync_kvstore_activity_logging), "false",     \
      CV_NULL)                                                                                  \
    X(ssl_ciphers, trimmed_char_ptr, (ssl_ciphers),                                             \
      "ECDH+AESGCM:DH+AESGCM:ECDH+AES256:DH+AES256:ECDH+AES128:DH+AES:RSA+AESGCM:RSA+AES:!aNULL:!MD5:!DSS",                                                                              \
      CV_NULL)                                                                                  \
    X(ssh_ciphers, trimmed_char_ptr, (ssh_ciphers), CV_NULL, CV_NULL)                           \
    X(ssh_macs, trimmed_char_ptr, (ssh_macs), CV_NULL, CV_NULL)                                 \
    X(cvtp_ciphers, trimmed_char_ptr, (cvtp_ciphers), CV_NULL, CV_NULL)                         \
    X(cvtp_macs, trimmed_char_ptr, (cvtp_macs), CV_NULL, CV_NULL)                               \
    X(ssh_key, trimmed_char_ptr, (default_ssh_key), CV_NULL, CV_NULL)                           \
    X(transport_cipher, lookup, (encryption_cipher), "aes-128",                                 \
      "none:0;aes-128:1;aes-192:2;aes-256:3;aes-128-cfb:4;aes-192-cfb:5;aes-256-cfb:6;aes-128-gcm:7;aes-192-gcm:8;aes-256-gcm:9;")                                             \
    X(ssl_protocol, lookup, (ssl_protocol), "tlsv1", "tlsv1:3;tlsv1.1:4;tlsv1.2:5;")
