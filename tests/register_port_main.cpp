// Registers or removes present "Ports" devices in the Wine prefix, so that a
// process test can give the service a phone's port:
//   register_port add <port name> <description>
//   register_port clear
#include <stdio.h>
#include <string.h>

#include "fake_ports.h"

int main(int argc, char** argv)
{
    if (argc == 4 && strcmp(argv[1], "add") == 0) {
        char id[64];
        if (!RegisterFakePort(argv[2], argv[3], id)) {
            fprintf(stderr, "register_port: cannot register %s\n", argv[2]);
            return 1;
        }
        printf("%s\n", id);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "clear") == 0) {
        RemoveAllFakePorts();
        return 0;
    }
    fprintf(stderr, "usage: register_port add <port name> <description> | clear\n");
    return 2;
}
