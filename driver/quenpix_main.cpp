// Entry point of the encoder tool.
#include <iostream>

#include "driver/encoder_command.hpp"

int main(int argc, char** argv) {
    // The command reports its own failures; this catches only what it could not foresee.
    try {
        return quenpix::RunEncoderCommand(argc, argv, std::cout, std::cerr);
    } catch (...) {
        std::cerr << (argc > 0 ? argv[0] : "quenpix") << ": unexpected failure" << std::endl;
        return 1;
    }
}
