/* main.cpp - zoltpeers: stand-in message broker, diagnostic engine and
 * language-string engine that run the zoltcpu module on its own. */
#include "cli.h"

int main(int argc, char **argv)
{
    return PeersMain(argc, argv);
}
