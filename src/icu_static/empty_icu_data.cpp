// An empty ICU common-data package, for builds that link ICU's common library
// statically (VORN_STATIC_ICU). vorn uses only NFC, the root-locale lowercase
// mapping and White_Space, whose tables are compiled into the common library
// itself, so the 30 MB data library is left out; this stands in for its entry
// point, which the common library refers to. The layout is that of ICU's own
// stub data library: a common-data header announcing zero entries.
#include <unicode/udata.h>
#include <unicode/utypes.h>

#include <cstdint>

namespace {

struct alignas(16) EmptyCommonData {
    std::uint16_t header_size;
    std::uint8_t magic1;
    std::uint8_t magic2;
    UDataInfo info;
    char padding[8];
    std::uint32_t entry_count;
    std::uint32_t reserved;
    std::uint32_t table_of_contents[4];
};

}  // namespace

extern "C" {
// Hidden, so that the common library's references to it resolve inside the
// module that links it and the symbol is exported to nobody.
__attribute__((visibility("hidden"))) extern const EmptyCommonData U_ICUDATA_ENTRY_POINT;
const EmptyCommonData U_ICUDATA_ENTRY_POINT = {
    32,    // header_size
    0xda,  // magic1
    0x27,  // magic2
    {
        sizeof(UDataInfo),
        0,
        U_IS_BIG_ENDIAN,
        U_CHARSET_FAMILY,
        sizeof(UChar),
        0,
        {0x54, 0x6f, 0x43, 0x50},  // data format "ToCP": a table of contents
        {1, 0, 0, 0},              // format version
        {0, 0, 0, 0},              // data version
    },
    {},
    0,  // no entries
    0,
    {},
};
}
