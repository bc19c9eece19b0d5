// Entry point of the decoder tool.
#include <iostream>

#include "driver/decoder_command.hpp"

int main(int argc, char** argv) {
    return quenpix::RunDecoderCommand(argc, argv, std::cout, std::cerr);
}
