// Build tool: writes a .res image as a C++ source that defines the program's
// resource image, so the program carries its resources inside the executable
// the way a device program does.  The output compiles as C++03, like the
// programs that link it.
//
// usage: callticker_embed_resources IMAGE.res OUTPUT.cpp
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: callticker_embed_resources IMAGE.res OUTPUT.cpp\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<unsigned char> image;
    if (in)
        image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    // Every .res image begins with an empty entry, so an empty file is not
    // one (and an empty array would not compile).
    if (image.empty()) {
        std::cerr << "callticker_embed_resources: cannot read a resource image from " << argv[1] << '\n';
        return 1;
    }

    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << "// Generated from " << argv[1] << "; do not edit.\n"
        << "extern \"C\" {\n"
        << "extern const unsigned char wince_program_resources[];\n"
        << "extern const unsigned int wince_program_resources_size;\n"
        << "const unsigned char wince_program_resources[] = {";
    for (size_t i = 0; i < image.size(); ++i)
        out << (i % 16 == 0 ? "\n    " : " ") << static_cast<unsigned>(image[i]) << ',';
    out << "\n};\n"
        << "const unsigned int wince_program_resources_size = " << image.size() << "u;\n"
        << "}\n";
    out.close();
    if (!out) {
        std::cerr << "callticker_embed_resources: cannot write " << argv[2] << '\n';
        return 1;
    }
    return 0;
}
