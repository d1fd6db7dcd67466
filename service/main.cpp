#include "service_host.h"

int main(int argc, char** argv)
{
    return ServiceEntry(argc, argv);
}
