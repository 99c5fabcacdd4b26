// cvshell: the restricted login shell of the transfer server.
#include "cvshell/shell.h"

int main(int argc, char **argv, char **envp) { return shell_main(argc, argv, envp); }
