// The registry file's text format and the registry's rules for names, without a store.
#include "settings/RegFileFormat.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace pellamark;

TEST(RegFileFormat, RecognisesDamage) {
    const std::string header = "Windows Registry Editor Version 5.00\n\n";
    const std::string section = "[HKEY_CURRENT_USER\\Software]\n";
    const struct {
        const char* what;
        std::string text;
    } damaged[] = {
        {"empty", ""},
        {"no header", section + "\"a\"=\"b\"\n"},
        {"other header", "REGEDIT4\n\n" + section},
        {"value before any key", header + "\"a\"=\"b\"\n"},
        {"nonsense line", header + section + "hello\n"},
        {"unterminated text", header + section + "\"a\"=\"b\n"},
        {"trailing garbage", header + section + "\"a\"=\"b\"x\n"},
        {"bad escape", header + section + "\"a\"=\"\\q\"\n"},
        {"short dword", header + section + "\"a\"=dword:123\n"},
        {"bad hex", header + section + "\"a\"=hex:1g\n"},
        {"dangling comma", header + section + "\"a\"=hex:12,\n"},
        {"other root", header + "[HKEY_LOCAL_MACHINE\\Software]\n"},
        {"empty key part", header + "[HKEY_CURRENT_USER\\A\\\\B]\n"},
        {"unclosed section", header + "[HKEY_CURRENT_USER\\A\n"},
        {"invalid UTF-8", header + section + "\"a\"=\"\xC3\x28\"\n"},
        {"overlong UTF-8", header + section + "\"a\"=\"\xC0\xAF\"\n"},
        {"NUL byte", header + section + std::string("\"a\"=\"x\0y\"\n", 11)},
        {"zeroed", std::string(200, '\0')},
        {"truncated header", "Windows Registry Ed"},
    };
    for (const auto& c : damaged) {
        EXPECT_FALSE(parseRegFile(c.text)) << c.what;
    }
}

TEST(RegFileFormat, ImpliedParentsExist) {
    const auto document = parseRegFile("Windows Registry Editor Version 5.00\n\n"
                                       "[HKEY_CURRENT_USER\\Software\\Quellworks\\Pellamark]\n");
    ASSERT_TRUE(document);
    EXPECT_TRUE(keyExists(*document, "Software"));
    EXPECT_TRUE(keyExists(*document, "software\\QUELLWORKS"));
    EXPECT_TRUE(keyExists(*document, "Software\\Quellworks\\Pellamark"));
    EXPECT_FALSE(keyExists(*document, "Software\\Quell"));
    EXPECT_FALSE(keyExists(*document, "Software\\Quellworks\\Pellamark\\Sub"));
}

// Whatever the bytes, parsing ends, and what parses writes back to a stable text.
TEST(RegFileFormat, SurvivesRandomBytesAndMutations) {
    std::mt19937 random(20261208);
    const std::string seed = "Windows Registry Editor Version 5.00\n"
                             "\n"
                             "[HKEY_CURRENT_USER\\Software\\Quellworks\\Pellamark]\n"
                             "\"UserId\"=\"abcde0123456789\"\n"
                             "\"PubId\"=dword:00000002\n"
                             "\"Bin\"=hex(7):61,00,00\n"
                             "@=\"x\\\\y\"\n";
    const std::string alphabet = "[]\\\"=@:,(){}0123456789abcdefhxdwor\n\r \xC3\xA4\xFF";
    int parsed = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        if (round % 4 == 0) {
            text.resize(random() % 200);
            for (char& c : text) {
                c = static_cast<char>(random());
            }
        } else {
            text = seed;
            const int edits = 1 + static_cast<int>(random() % 4);
            for (int e = 0; e < edits && !text.empty(); ++e) {
                const std::size_t at = random() % text.size();
                switch (random() % 3) {
                case 0:
                    text[at] = alphabet[random() % alphabet.size()];
                    break;
                case 1:
                    text.erase(at, 1 + random() % 5);
                    break;
                default:
                    text.insert(at, 1, alphabet[random() % alphabet.size()]);
                }
            }
        }
        const auto document = parseRegFile(text);
        if (!document) {
            continue;
        }
        ++parsed;
        const std::string written = serializeRegFile(*document);
        const auto reread = parseRegFile(written);
        ASSERT_TRUE(reread) << text;
        EXPECT_EQ(serializeRegFile(*reread), written) << text;
    }
    EXPECT_GT(parsed, 100); // the mutations must also exercise the accepting paths
}

TEST(RegName, NamesMatchWithoutRegardToCase) {
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"StartUp", "Startup", true},
        {"ÄÖÜÀÉÞ", "äöüàéþ", true},
        {"Ÿ", "ÿ", true},
        {"ŁĄŒŽ", "łąœž", true},
        {"ΑΒΓΣΆΏ", "αβγσάώ", true},
        {"ΣΟΦΟΣ", "σοφος", true},
        {"ПРИВЕТ ЁЇ", "привет ёї", true},
        {"×", "÷", false},
        {"ß", "ss", false},
        {"a", "b", false},
        {"Start", "StartUp", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sameName(c.a, c.b), c.same) << c.a << " / " << c.b;
    }
}
