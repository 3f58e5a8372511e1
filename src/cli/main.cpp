#include <iostream>

#include "cli/App.h"
#include "dataset/SqliteTable.h"

int main(int argc, char** argv) {
    qel::TSqliteTable::ConfigureProcess();  // before SQLite is used
    std::ios::sync_with_stdio(false);
    return qel::cli::RunQel(argc, argv, std::cin, std::cout, std::cerr);
}
