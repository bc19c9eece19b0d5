// Entry point of the encoder tool.
#include <iostream>

#include "driver/encoder_command.hpp"

int main(int argc, char** argv) {
    return quenpix::RunEncoderCommand(argc, argv, std::cout, std::cerr);
}
