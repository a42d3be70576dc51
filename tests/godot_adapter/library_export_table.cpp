#include "library_export_table.hpp"

#include <cstring>
#include <utility>

namespace qop::godot_adapter::testing {
namespace {

// Bounds-checked little-endian reads: every offset comes from the file.
class ImageReader {
public:
    explicit ImageReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

    bool read_byte(std::uint64_t offset, std::uint32_t& value) const {
        return read(offset, 1, value);
    }
    bool u16(std::uint64_t offset, std::uint32_t& value) const { return read(offset, 2, value); }
    bool u32(std::uint64_t offset, std::uint32_t& value) const { return read(offset, 4, value); }
    bool u64(std::uint64_t offset, std::uint64_t& value) const {
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        if (!u32(offset, low) || !u32(offset + 4, high)) {
            return false;
        }
        value = (static_cast<std::uint64_t>(high) << 32) | low;
        return true;
    }
    bool text(std::uint64_t offset, std::string& value) const {
        if (offset >= bytes_.size()) {
            return false;
        }
        const auto* begin = reinterpret_cast<const char*>(bytes_.data() + offset);
        const auto* nul = static_cast<const char*>(std::memchr(begin, 0, bytes_.size() - offset));
        if (nul == nullptr) {
            return false;
        }
        value.assign(begin, nul);
        return true;
    }
    bool starts_with(const char* magic, std::size_t size) const {
        return bytes_.size() >= size && std::memcmp(bytes_.data(), magic, size) == 0;
    }

private:
    bool read(std::uint64_t offset, int size, std::uint32_t& value) const {
        if (offset > bytes_.size() || bytes_.size() - offset < static_cast<std::uint64_t>(size)) {
            return false;
        }
        value = 0;
        for (int i = size - 1; i >= 0; --i) {
            value = (value << 8) | bytes_[offset + static_cast<std::uint64_t>(i)];
        }
        return true;
    }

    const std::vector<std::uint8_t>& bytes_;
};

bool fail(std::string& error, const char* message) {
    error = message;
    return false;
}

bool read_elf_exports(const ImageReader& image, ExportTable& table, std::string& error) {
    constexpr std::uint32_t kDynamicSymbols = 11;  // SHT_DYNSYM
    constexpr std::uint32_t kGlobal = 1;
    constexpr std::uint32_t kWeak = 2;
    constexpr std::uint32_t kDefaultVisibility = 0;
    std::uint64_t section_table = 0;
    std::uint32_t section_size = 0;
    std::uint32_t section_count = 0;
    if (!image.u64(0x28, section_table) || !image.u16(0x3A, section_size) ||
        !image.u16(0x3C, section_count) || section_size < 64) {
        return fail(error, "ELF header truncated");
    }
    for (std::uint32_t i = 0; i < section_count; ++i) {
        const std::uint64_t header = section_table + std::uint64_t{i} * section_size;
        std::uint32_t type = 0;
        if (!image.u32(header + 4, type)) {
            return fail(error, "ELF section header outside the file");
        }
        if (type != kDynamicSymbols) {
            continue;
        }
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
        std::uint32_t link = 0;
        std::uint64_t entry_size = 0;
        if (!image.u64(header + 0x18, offset) || !image.u64(header + 0x20, size) ||
            !image.u32(header + 0x28, link) || !image.u64(header + 0x38, entry_size) ||
            entry_size < 24) {
            return fail(error, "ELF dynamic symbol table header truncated");
        }
        std::uint64_t strings = 0;
        if (!image.u64(section_table + std::uint64_t{link} * section_size + 0x18, strings)) {
            return fail(error, "ELF string table header outside the file");
        }
        for (std::uint64_t symbol = offset; symbol + entry_size <= offset + size;
             symbol += entry_size) {
            std::uint32_t name = 0;
            std::uint32_t info = 0;
            std::uint32_t other = 0;
            std::uint32_t section_index = 0;
            if (!image.u32(symbol, name) || !image.read_byte(symbol + 4, info) ||
                !image.read_byte(symbol + 5, other) || !image.u16(symbol + 6, section_index)) {
                return fail(error, "ELF symbol outside the file");
            }
            const std::uint32_t binding = info >> 4;
            const bool defined = section_index != 0;
            if (!defined || (binding != kGlobal && binding != kWeak) ||
                (other & 3) != kDefaultVisibility) {
                continue;
            }
            std::string symbol_name;
            if (!image.text(strings + name, symbol_name)) {
                return fail(error, "ELF symbol name outside the file");
            }
            table.names.push_back(symbol_name);
        }
    }
    table.function_count = static_cast<std::uint32_t>(table.names.size());
    return true;
}

bool rva_to_offset(const ImageReader& image, std::uint64_t sections, std::uint32_t count,
                   std::uint32_t rva, std::uint64_t& offset) {
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t header = sections + std::uint64_t{i} * 40;
        std::uint32_t virtual_size = 0;
        std::uint32_t virtual_address = 0;
        std::uint32_t raw_size = 0;
        std::uint32_t raw_offset = 0;
        if (!image.u32(header + 8, virtual_size) || !image.u32(header + 12, virtual_address) ||
            !image.u32(header + 16, raw_size) || !image.u32(header + 20, raw_offset)) {
            return false;
        }
        const std::uint32_t extent = virtual_size > raw_size ? virtual_size : raw_size;
        if (rva >= virtual_address && rva - virtual_address < extent) {
            offset = std::uint64_t{raw_offset} + (rva - virtual_address);
            return true;
        }
    }
    return false;
}

bool read_pe_exports(const ImageReader& image, ExportTable& table, std::string& error) {
    constexpr std::uint32_t kPe32Plus = 0x20B;
    std::uint32_t pe_offset = 0;
    std::uint32_t signature = 0;
    if (!image.u32(0x3C, pe_offset) || !image.u32(pe_offset, signature) ||
        signature != 0x00004550) {
        return fail(error, "PE signature missing");
    }
    const std::uint64_t coff = std::uint64_t{pe_offset} + 4;
    std::uint32_t section_count = 0;
    std::uint32_t optional_size = 0;
    std::uint32_t magic = 0;
    if (!image.u16(coff + 2, section_count) || !image.u16(coff + 16, optional_size) ||
        !image.u16(coff + 20, magic) || magic != kPe32Plus) {
        return fail(error, "not a PE32+ image");
    }
    const std::uint64_t optional = coff + 20;
    const std::uint64_t sections = optional + optional_size;
    std::uint32_t export_rva = 0;
    if (!image.u32(optional + 112, export_rva)) {
        return fail(error, "PE data directories truncated");
    }
    if (export_rva == 0) {
        return true;  // no export directory at all
    }
    std::uint64_t directory = 0;
    std::uint32_t function_count = 0;
    std::uint32_t name_count = 0;
    std::uint32_t names_rva = 0;
    if (!rva_to_offset(image, sections, section_count, export_rva, directory) ||
        !image.u32(directory + 20, function_count) || !image.u32(directory + 24, name_count) ||
        !image.u32(directory + 32, names_rva)) {
        return fail(error, "PE export directory outside the file");
    }
    table.function_count = function_count;
    std::uint64_t names = 0;
    if (name_count > 0 && !rva_to_offset(image, sections, section_count, names_rva, names)) {
        return fail(error, "PE export name table outside the file");
    }
    for (std::uint32_t i = 0; i < name_count; ++i) {
        std::uint32_t name_rva = 0;
        std::uint64_t name_offset = 0;
        std::string name;
        if (!image.u32(names + std::uint64_t{i} * 4, name_rva) ||
            !rva_to_offset(image, sections, section_count, name_rva, name_offset) ||
            !image.text(name_offset, name)) {
            return fail(error, "PE export name outside the file");
        }
        table.names.push_back(name);
    }
    return true;
}

}  // namespace

bool read_export_table(const std::vector<std::uint8_t>& image, ExportTable& table,
                       std::string& error) {
    const ImageReader reader(image);
    ExportTable result;
    bool ok = false;
    if (reader.starts_with("\x7f"
                           "ELF\x02\x01",
                           6)) {
        ok = read_elf_exports(reader, result, error);
    } else if (reader.starts_with("MZ", 2)) {
        ok = read_pe_exports(reader, result, error);
    } else {
        return fail(error, "neither an ELF nor a PE image");
    }
    if (ok) {
        table = std::move(result);
    }
    return ok;
}

}  // namespace qop::godot_adapter::testing
