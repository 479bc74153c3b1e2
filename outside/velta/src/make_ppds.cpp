// velta-make-ppds FOLDER: writes the PPD of every model into FOLDER (made if missing), for the build
// to install. The PPDs come from the model table alone, so they cannot drift from it.

#include <filesystem>
#include <fstream>
#include <iostream>

#include "ppd.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: velta-make-ppds FOLDER\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::cerr << "velta-make-ppds: " << folder.string() << ": " << error.message() << '\n';
        return 1;
    }
    for (const facts::Model& model : facts::all()) {
        const auto file = folder / velta::ppdFileName(model);
        const auto partial = file.string() + ".part";
        {
            std::ofstream out(partial, std::ios::binary | std::ios::trunc);
            out << velta::ppdText(model);
            if (!out.flush()) {
                std::cerr << "velta-make-ppds: cannot write " << partial << '\n';
                return 1;
            }
        }
        std::filesystem::rename(partial, file, error);
        if (error) {
            std::cerr << "velta-make-ppds: " << file.string() << ": " << error.message() << '\n';
            return 1;
        }
    }
    return 0;
}
