// KXPassword: length query, decryption, refusal of short buffers, and what the
// object's memory holds while alive and after destruction.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <type_traits>

#include "KxLib.h"

namespace {

// The cipher pointer is the first member of a standard-layout class.
static_assert(std::is_standard_layout_v<KXPassword>);

const unsigned char *cipherOf(const KXPassword &password)
{
    const unsigned char *cipher = nullptr;
    std::memcpy(&cipher, &password, sizeof cipher);
    return cipher;
}

bool contains(const unsigned char *data, std::size_t size, const std::string &needle)
{
    return !needle.empty() && memmem(data, size, needle.data(), needle.size()) != nullptr;
}

class PasswordRoundTrip : public ::testing::TestWithParam<std::string> {};

TEST_P(PasswordRoundTrip, LengthQueryThenText)
{
    const std::string &plain = GetParam();
    KXPassword password(plain.c_str());
    unsigned long length = 12345;
    ASSERT_NE(password.decrypt(nullptr, &length), 0);
    ASSERT_EQ(length, plain.size());
    std::string buffer(length + 1, '\x7f');
    ASSERT_NE(password.decrypt(buffer.data(), &length), 0);
    EXPECT_EQ(length, plain.size());
    EXPECT_EQ(buffer, plain + '\0');
}

INSTANTIATE_TEST_SUITE_P(Texts, PasswordRoundTrip,
                         ::testing::Values(std::string(), std::string("secret"), std::string("with blanks and ; = #"),
                                           std::string("p\xc3\xa4ssw\xc3\xb6rd"), std::string(1000, 'k')));

// The length passed in bounds the write: at least the plain length is
// accepted (and corrected), less is refused with buffer and length untouched.
TEST(Password, PassedLengthBoundsTheWrite)
{
    const struct {
        const char *plain;
        unsigned long passed;
        bool accepted;
    } cases[] = {{"secret", 6, true},  {"secret", 100, true}, {"secret", 5, false},
                 {"secret", 0, false}, {nullptr, 0, true},    {"", 3, true}};
    for (const auto &c : cases) {
        KXPassword password(c.plain);
        char out[101];
        std::memset(out, 'z', sizeof out);
        unsigned long length = c.passed;
        EXPECT_EQ(password.decrypt(out, &length) != 0, c.accepted) << c.passed;
        std::string plain = c.plain ? c.plain : "";
        if (c.accepted) {
            EXPECT_EQ(length, plain.size());
            EXPECT_EQ(std::string(out), plain);
        } else {
            EXPECT_EQ(length, c.passed);
            EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, 'z'));
        }
    }
}

TEST(Password, NullLengthIsRefused)
{
    KXPassword password("secret");
    char out[16] = {};
    EXPECT_EQ(password.decrypt(nullptr, nullptr), 0);
    EXPECT_EQ(password.decrypt(out, nullptr), 0);
    EXPECT_EQ(out[0], '\0');
}

TEST(Password, NoPlainCopyInObjectOrCipher)
{
    const std::string plain = "Tr0ub4dor&3";
    KXPassword password(plain.c_str());
    const unsigned char *cipher = cipherOf(password);
    ASSERT_NE(cipher, nullptr);
    EXPECT_FALSE(contains(cipher, plain.size() + 16, plain));
    EXPECT_FALSE(contains(cipher, plain.size() + 16, plain.substr(0, 4)));
    EXPECT_FALSE(contains(reinterpret_cast<const unsigned char *>(&password), sizeof password, plain.substr(0, 4)));

    // A fresh key and nonce per object: the same text never encrypts alike.
    KXPassword twin(plain.c_str());
    EXPECT_NE(std::memcmp(cipher, cipherOf(twin), plain.size() + 16), 0);
}

TEST(Password, DestructionWipesKeyNonceAndLength)
{
    constexpr unsigned char kFill = 0xAA;
    alignas(KXPassword) unsigned char storage[sizeof(KXPassword)];
    std::memset(storage, kFill, sizeof storage);
    auto *password = new (storage) KXPassword("secret");
    auto keyLike = [&] {
        int count = 0;
        for (unsigned char byte : storage) {
            count += byte != 0 && byte != kFill;
        }
        return count;
    };
    ASSERT_GT(keyLike(), 40); // 56 random bytes of key and nonce, plus pointer and length
    password->~KXPassword();
    // Only zeros and untouched padding remain.
    EXPECT_EQ(keyLike(), 0);
}

} // namespace
