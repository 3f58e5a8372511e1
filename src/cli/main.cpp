#include <iostream>

#include "cli/App.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    return qel::cli::RunQel(argc, argv, std::cin, std::cout, std::cerr);
}
