// GoogleTest copies every failure and skip message to OutputDebugStringA,
// which raises DBG_PRINTEXCEPTION_C for a debugger to catch. Where 32-bit
// programs run under qemu-user (scripts/win32-emulation.sh), Wine's 32-bit
// unwinding of that exception dies ("Got unexpected trap -1": qemu gives the
// signal handler no trap number) and takes the test program with it, so a
// skip or a failure would show as a crash. There, a vectored handler lets the
// exception continue at once; the message still goes to standard output.

#include "emulation.h"

#include <windows.h>

namespace {

LONG CALLBACK ContinueDebugOutput(EXCEPTION_POINTERS* exception)
{
    return exception->ExceptionRecord->ExceptionCode == DBG_PRINTEXCEPTION_C
               ? EXCEPTION_CONTINUE_EXECUTION
               : EXCEPTION_CONTINUE_SEARCH;
}

const bool s_installed =
    RunsUnderI386Emulation() && AddVectoredExceptionHandler(1, ContinueDebugOutput) != nullptr;

}  // namespace
