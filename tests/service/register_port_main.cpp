// Registers or removes present "Ports" devices in the Wine prefix, so that a
// process test can give the service a phone's port:
//   register_port add <port name> <description>
//   register_port remove <port name>
//   register_port clear
//   register_port vanish <port name> <limit ms>
// "vanish" waits until the service's link waits for the phone's table, takes
// the port away at once and measures how long the link takes to fall back to
// idle; it fails when that takes limit ms or more.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "fake_ports.h"
#include "block_writer.h"

namespace {

const DWORD WAIT_LIMIT_MS = 15000;

// Polls the link state until it equals state; false after WAIT_LIMIT_MS.
bool WaitForState(const volatile uint32_t* linkState, uint32_t state)
{
    DWORD start = GetTickCount();
    while (*linkState != state) {
        if (GetTickCount() - start > WAIT_LIMIT_MS)
            return false;
        Sleep(1);
    }
    return true;
}

int Vanish(const char* portName, DWORD limitMs)
{
    HANDLE mapping = nullptr;
    DWORD start = GetTickCount();
    while (mapping == nullptr && GetTickCount() - start < WAIT_LIMIT_MS) {
        mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, "Global\\OvalixSvcMemory");
        if (mapping == nullptr)
            Sleep(50);
    }
    if (mapping == nullptr) {
        fprintf(stderr, "register_port: no shared camera block\n");
        return 1;
    }
    const SharedCameraBlock* block = static_cast<const SharedCameraBlock*>(
        MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(SharedCameraBlock)));
    if (block == nullptr) {
        CloseHandle(mapping);
        return 1;
    }
    int result = 1;
    const volatile uint32_t* linkState = &block->linkState;
    if (!WaitForState(linkState, LINK_AWAIT_TABLE)) {
        fprintf(stderr, "register_port: the link did not start\n");
    } else {
        DWORD removed = GetTickCount();
        RemoveFakePort(portName);
        if (!WaitForState(linkState, LINK_IDLE)) {
            fprintf(stderr, "register_port: the link stayed up\n");
        } else {
            DWORD elapsed = GetTickCount() - removed;
            printf("idle %lu ms after the port vanished\n", static_cast<unsigned long>(elapsed));
            result = elapsed < limitMs ? 0 : 1;
        }
    }
    UnmapViewOfFile(block);
    CloseHandle(mapping);
    return result;
}

}  // namespace

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
    if (argc == 3 && strcmp(argv[1], "remove") == 0) {
        RemoveFakePort(argv[2]);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "clear") == 0) {
        RemoveAllFakePorts();
        return 0;
    }
    if (argc == 4 && strcmp(argv[1], "vanish") == 0)
        return Vanish(argv[2], static_cast<DWORD>(atoi(argv[3])));
    fprintf(stderr, "usage: register_port add <port name> <description> | remove <port name>"
                    " | clear | vanish <port name> <limit ms>\n");
    return 2;
}
