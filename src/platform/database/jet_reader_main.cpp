// velmora-jet-reader: the provider's reader program (see jet_isolated.cpp).
#include "platform/database/jet_reader.h"

int main(int argc, char** argv) { return ado::jet::readerMain(argc, argv); }
