#include "service/visitor_name.h"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/uspoof.h>

#include <array>
#include <memory>
#include <stdexcept>

#include "service/operator_api.h"

namespace tertulia {

namespace {

bool IsFormatOrSeparator(UChar32 c) {
    return c == 0x00AD || c == 0x061C || c == 0x180E || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x2064) ||
           (c >= 0x2066 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
}

// The few ways one text may be seen: as written, in lower case and in upper case, each by its
// confusable skeleton in lower case. Two texts look alike when they share one. Case is folded
// after the skeleton as well as before it, because Unicode's confusables relate a Cyrillic
// capital О to a Latin O and a Cyrillic small о to a Latin o, but not one case to the other.
using Views = std::array<icu::UnicodeString, 3>;

class LookAlikes {
  public:
    LookAlikes() {
        UErrorCode status = U_ZERO_ERROR;
        decompose_ = icu::Normalizer2::getNFKDInstance(status);
        checker_.reset(uspoof_open(&status));
        if (U_FAILURE(status)) {
            throw std::runtime_error(std::string("ICU: ") + u_errorName(status));
        }
    }

    // The name as it reads: compatibility forms folded, accents and other marks and punctuation
    // removed, outer blanks trimmed.
    icu::UnicodeString Reading(const icu::UnicodeString& name) const {
        UErrorCode status = U_ZERO_ERROR;
        const icu::UnicodeString decomposed = decompose_->normalize(name, status);
        icu::UnicodeString out;
        for (int32_t i = 0; i < decomposed.length();) {
            const UChar32 c = decomposed.char32At(i);
            i += U16_LENGTH(c);
            if ((U_GET_GC_MASK(c) & (U_GC_M_MASK | U_GC_P_MASK)) == 0) out.append(c);
        }
        int32_t first = 0;
        while (first < out.length() && u_isUWhiteSpace(out.char32At(first))) {
            first += U16_LENGTH(out.char32At(first));
        }
        int32_t end = out.length();
        while (end > first && u_isUWhiteSpace(out.char32At(end - 1))) {
            end -= U16_LENGTH(out.char32At(end - 1));
        }
        return icu::UnicodeString(out, first, end - first);
    }

    Views ViewsOf(const icu::UnicodeString& text) const {
        icu::UnicodeString lower = text;
        icu::UnicodeString upper = text;
        lower.foldCase();
        upper.toUpper(icu::Locale::getRoot());
        return {Skeleton(text), Skeleton(lower), Skeleton(upper)};
    }

  private:
    icu::UnicodeString Skeleton(const icu::UnicodeString& text) const {
        UErrorCode status = U_ZERO_ERROR;
        icu::UnicodeString skeleton;
        uspoof_getSkeletonUnicodeString(checker_.get(), 0, text, skeleton, &status);
        if (U_FAILURE(status)) {
            throw std::runtime_error(std::string("ICU: ") + u_errorName(status));
        }
        return skeleton.foldCase();
    }

    struct CloseChecker {
        void operator()(USpoofChecker* checker) const { uspoof_close(checker); }
    };
    const icu::Normalizer2* decompose_ = nullptr;
    std::unique_ptr<USpoofChecker, CloseChecker> checker_;
};

// A name a visitor may not take, with why.
struct ReservedName {
    Views views;
    std::string refusal;
};

struct ReservedNames {
    LookAlikes lookAlikes;
    std::array<ReservedName, 2> names;
};

ReservedName Reserved(const LookAlikes& lookAlikes, const char* name, const char* use) {
    return {lookAlikes.ViewsOf(icu::UnicodeString::fromUTF8(name)),
            std::string("El nombre «") + name + "» está reservado para " + use + "; elija otro."};
}

ReservedNames MakeReservedNames() {
    LookAlikes lookAlikes;
    // "Tertulia" signs the service's own lines in the console's transcripts.
    std::array<ReservedName, 2> names = {
        Reserved(lookAlikes, OperatorApi::kOperatorName, "quien le atiende"),
        Reserved(lookAlikes, "Tertulia", "los avisos del servicio"),
    };
    return {std::move(lookAlikes), std::move(names)};
}

const ReservedNames& TheReservedNames() {
    // ICU's checker may be shared by threads once it is made.
    static const ReservedNames names = MakeReservedNames();
    return names;
}

}  // namespace

std::optional<std::string> NameRefusal(std::string_view name) {
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(name.data(), static_cast<int32_t>(name.size())));
    for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
        if (IsFormatOrSeparator(text.char32At(i))) {
            return "El nombre contiene caracteres invisibles de formato o de separación.";
        }
    }
    const ReservedNames& reserved = TheReservedNames();
    const Views views = reserved.lookAlikes.ViewsOf(reserved.lookAlikes.Reading(text));
    for (const ReservedName& taken : reserved.names) {
        for (const icu::UnicodeString& view : views) {
            for (const icu::UnicodeString& takenView : taken.views) {
                if (view == takenView) return taken.refusal;
            }
        }
    }
    return std::nullopt;
}

}  // namespace tertulia
