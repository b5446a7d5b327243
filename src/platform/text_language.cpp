#include "platform/text_language.h"

namespace {

constexpr uint16_t kPrimaryMask = 0x03FF;
constexpr uint16_t kChinese = 0x04;

uint16_t Primary(uint16_t language) { return language & kPrimaryMask; }

// Chinese in Simplified script: China and Singapore; the others (Taiwan,
// Hong Kong, Macao) write Traditional, which a Simplified text does not serve.
bool SimplifiedChinese(uint16_t language) { return language == 0x0804 || language == 0x1004; }

bool SameFamily(uint16_t a, uint16_t b) {
    if (Primary(a) != Primary(b)) return false;
    if (Primary(a) == kChinese) return SimplifiedChinese(a) == SimplifiedChinese(b);
    return true;
}

}  // namespace

uint16_t ChooseTextLanguage(uint16_t userLanguage, const uint16_t* shipped, int count) {
    for (int i = 0; i < count; ++i)
        if (shipped[i] == userLanguage) return userLanguage;
    for (int i = 0; i < count; ++i)
        if (SameFamily(shipped[i], userLanguage)) return shipped[i];
    return kEnglishLanguage;
}
