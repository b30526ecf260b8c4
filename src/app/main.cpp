#include "app/Startup.h"

int main(int argc, char** argv)
{
    return Novaro::startPlayer(argc, argv);
}
