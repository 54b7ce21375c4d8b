// jetwrite: writes Jet 4 files from plain-text descriptions, and the small
// helpers the demo program folder is built with.
//
//   jetwrite DESCRIPTION OUT.mdb           write the database a description describes
//   jetwrite --generate-bench OUT.zdj [PRODUCTS CATEGORIES FACTORIES]
//                                          write a large generated material library
//   jetwrite --gbk IN OUT                  convert a UTF-8 text file to GBK
//   jetwrite --bitmap OUT.bmp RRGGBB [SHAPE]
//                                          write a 16x16 icon bitmap
#include "jetwrite/jetwriter.h"
#include "jetwrite/tool_helpers.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: jetwrite DESCRIPTION OUT.mdb\n"
                 "       jetwrite --generate-bench OUT.zdj [PRODUCTS CATEGORIES FACTORIES]\n"
                 "       jetwrite --gbk IN OUT\n"
                 "       jetwrite --bitmap OUT.bmp RRGGBB [square|circle|diamond]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc >= 2 && std::strcmp(argv[1], "--generate-bench") == 0) {
            if (argc != 3 && argc != 6) return usage();
            jetwrite::BenchShape shape;
            if (argc == 6) {
                shape.products = std::stoi(argv[3]);
                shape.categories = std::stoi(argv[4]);
                shape.factories = std::stoi(argv[5]);
            }
            auto start = std::chrono::steady_clock::now();
            jetwrite::Database db = jetwrite::makeBenchLibrary(shape);
            auto built = std::chrono::steady_clock::now();
            jetwrite::writeDatabase(db, argv[2]);
            auto done = std::chrono::steady_clock::now();
            auto ms = [](auto d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); };
            std::printf("%s: %d products, %d categories, %d manufacturers; generated in %lld ms, written in %lld ms\n",
                        argv[2], shape.products, shape.categories, shape.factories, (long long)ms(built - start),
                        (long long)ms(done - built));
            return 0;
        }
        if (argc >= 2 && std::strcmp(argv[1], "--gbk") == 0) {
            if (argc != 4) return usage();
            jetwrite::convertToGbk(argv[2], argv[3]);
            return 0;
        }
        if (argc >= 2 && std::strcmp(argv[1], "--bitmap") == 0) {
            if (argc != 4 && argc != 5) return usage();
            jetwrite::writeIconBitmap(argv[2], argv[3], argc == 5 ? argv[4] : "square");
            return 0;
        }
        if (argc != 3 || argv[1][0] == '-') return usage();
        jetwrite::Database db = jetwrite::readDescriptionFile(argv[1]);
        jetwrite::writeDatabase(db, argv[2]);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "jetwrite: %s\n", e.what());
        return 1;
    }
}
