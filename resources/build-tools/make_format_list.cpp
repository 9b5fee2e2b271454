// Turns a format list kept as plain UTF-8 text into the UTF-16 little-endian file the program
// reads ("decoders.bin"): a byte-order mark, then the lines as they are.
//
//   make-format-list IN.txt OUT.bin
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// Appends the code point as UTF-16 little-endian; false for bytes that are not UTF-8.
bool Decode(const std::string& in, std::string& out)
{
    auto unit = [&](uint32_t value) {
        out += static_cast<char>(value & 0xFF);
        out += static_cast<char>(value >> 8);
    };
    unit(0xFEFF);
    for (size_t i = 0; i < in.size();) {
        const unsigned char lead = static_cast<unsigned char>(in[i]);
        uint32_t code = 0;
        size_t length = 0;
        if (lead < 0x80) {
            code = lead;
            length = 1;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1F;
            length = 2;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0F;
            length = 3;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07;
            length = 4;
        } else {
            return false;
        }
        if (i + length > in.size())
            return false;
        for (size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(in[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        i += length;
        if (code >= 0x10000) {
            code -= 0x10000;
            unit(0xD800 + (code >> 10));
            unit(0xDC00 + (code & 0x3FF));
        } else {
            unit(code);
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make-format-list IN.txt OUT.bin\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string out;
    if (!in.good() && !in.eof()) {
        std::fprintf(stderr, "make-format-list: cannot read %s\n", argv[1]);
        return 1;
    }
    if (!Decode(text, out)) {
        std::fprintf(stderr, "make-format-list: %s is not UTF-8\n", argv[1]);
        return 1;
    }
    std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    return file.good() ? 0 : 1;
}
