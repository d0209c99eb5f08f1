// The DER reader and writer of ECDSA P-256 signatures (portable: natively
// and under Wine).
#include "app/ecdsa_signature.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

std::string Bytes(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Repeat(const std::string& hexByte, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += hexByte;
    return out;
}

std::string Integer(const std::string& valueHex) {
    char length[3];
    std::snprintf(length, sizeof length, "%02x", static_cast<unsigned>(valueHex.size() / 2));
    return "02" + std::string(length) + valueHex;
}

std::string Sequence(const std::string& bodyHex) {
    char length[3];
    std::snprintf(length, sizeof length, "%02x", static_cast<unsigned>(bodyHex.size() / 2));
    return "30" + std::string(length) + bodyHex;
}

const std::string kOrder = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551";
const std::string kOrderMinus1 = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632550";
const std::string kR = Repeat("11", 32);
const std::string kS = Repeat("22", 32);

TEST(ReadDerSignature, TakesDistinguishedSignaturesAsRAndSOf32BytesEach) {
    struct Case {
        const char* what;
        std::string der;   // hex
        std::string rs;    // hex, 128 digits
    };
    const Case cases[] = {
        {"two full integers", Sequence(Integer(kR) + Integer(kS)), kR + kS},
        {"a high bit behind a zero byte", Sequence(Integer("00" + Repeat("80", 32)) + Integer(kS)), Repeat("80", 32) + kS},
        {"short integers, padded on the left", Sequence(Integer("01") + Integer("7f00")),
         Repeat("00", 31) + "01" + Repeat("00", 30) + "7f00"},
        {"a short integer with its zero byte", Sequence(Integer(kR) + Integer("0080")), kR + Repeat("00", 31) + "80"},
        {"the largest values, n - 1", Sequence(Integer("00" + kOrderMinus1) + Integer("00" + kOrderMinus1)),
         kOrderMinus1 + kOrderMinus1},
    };
    for (const Case& c : cases) {
        std::string reason;
        std::optional<P256Signature> rs = ReadDerSignature(Bytes(c.der), &reason);
        ASSERT_TRUE(rs) << c.what << ": " << reason;
        EXPECT_EQ(Hex(std::string_view(reinterpret_cast<const char*>(rs->data()), rs->size())), c.rs) << c.what;
        // One form per signature: written back, the very bytes read.
        EXPECT_EQ(Hex(WriteDerSignature(*rs)), c.der) << c.what;
    }
}

TEST(ReadDerSignature, RefusesEverythingButExactlyOneDistinguishedSignature) {
    const std::string good = Sequence(Integer(kR) + Integer(kS));
    struct Case {
        const char* what;
        std::string der;
        const char* reason;
    };
    const Case cases[] = {
        {"nothing", "", "not a DER sequence"},
        {"one byte", "30", "not a DER sequence"},
        {"a set", "31" + good.substr(2), "not a DER sequence"},
        {"a long-form length", "3081" + good.substr(2), "a sequence length not in short form"},
        {"indefinite length", "3080" + good.substr(4) + "0000", "a sequence length not in short form"},
        {"cut short", good.substr(0, good.size() - 2), "the sequence is cut short"},
        {"a byte after the sequence", good + "00", "bytes after the sequence"},
        {"a third integer", Sequence(Integer("01") + Integer("02") + Integer("03")), "bytes after the two integers"},
        {"one integer", Sequence(Integer(kR)), "an integer is cut short"},
        {"a bit string for r", Sequence("03" + Integer(kR).substr(2) + Integer(kS)), "an INTEGER is expected"},
        {"an empty integer", Sequence("0200" + Integer(kS)), "an integer without bytes"},
        {"a negative r", Sequence(Integer(Repeat("80", 32)) + Integer(kS)), "a negative integer"},
        {"a negative s", Sequence(Integer(kR) + Integer("ff")), "a negative integer"},
        {"a needless zero byte", Sequence(Integer("00" + kR) + Integer(kS)), "an integer with a needless leading zero"},
        {"a needless zero before zero", Sequence(Integer("0000") + Integer(kS)), "an integer with a needless leading zero"},
        {"r of zero", Sequence(Integer("00") + Integer(kS)), "an integer of zero"},
        {"s of zero", Sequence(Integer(kR) + Integer("00")), "an integer of zero"},
        {"r of n", Sequence(Integer("00" + kOrder) + Integer(kS)), "an integer not below the order of the curve"},
        {"s of 2^256 - 1", Sequence(Integer(kR) + Integer("00" + Repeat("ff", 32))),
         "an integer not below the order of the curve"},
        {"33 value bytes", Sequence(Integer("01" + kR) + Integer(kS)), "an integer longer than P-256 allows"},
        {"34 bytes", Sequence(Integer("0000" + kR) + Integer("01")), "an integer longer than P-256 allows"},
        {"an integer running past the sequence", "3008" "0220" + kR.substr(0, 8) + "0201", "an integer is cut short"},
        {"73 bytes", Sequence(Integer("00" + Repeat("80", 32)) + Integer("00" + Repeat("80", 32)) + "00"),
         "longer than a P-256 signature"},
    };
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_EQ(ReadDerSignature(Bytes(c.der), &reason), std::nullopt) << c.what;
        EXPECT_EQ(reason, c.reason) << c.what;
    }
}

TEST(WriteDerSignature, ReadsBackEveryValueInRange) {
    // Leading zero bytes of either value, high bits on and off.
    const std::string values[] = {kR, Repeat("00", 31) + "01", Repeat("00", 31) + "80", "00" + Repeat("ff", 31),
                                  Repeat("80", 32), kOrderMinus1};
    for (const std::string& r : values) {
        for (const std::string& s : values) {
            P256Signature rs{};
            std::string raw = Bytes(r + s);
            std::copy(raw.begin(), raw.end(), rs.begin());
            std::string der = WriteDerSignature(rs);
            EXPECT_LE(der.size(), kP256DerMaxBytes);
            std::optional<P256Signature> back = ReadDerSignature(der);
            ASSERT_TRUE(back) << r << " " << s;
            EXPECT_EQ(*back, rs);
        }
    }
}

}  // namespace
}  // namespace qv
