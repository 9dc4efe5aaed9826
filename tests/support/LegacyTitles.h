#pragma once
// Real titles as Western and Japanese systems stored them in 8-bit text (ISO-8859-1 and code page
// 932), for the tests of what tag readers and name displays make of such bytes. The bytes come from
// Python's own codecs, independent of the iconv the program reads them with.

#include <string>
#include <vector>

#include "tests/support/CommandOutput.h"

namespace lumora::test {

// Accents at the start, in the middle and at the end; words whose bytes are also valid CP932
// ("Crème", "Ölgemälde", "Ação"); titles longer than the 30 bytes of an ID3v1 field, one of them
// cut right after its last accented letter ("…Claude Franç").
inline const std::vector<std::string>& Latin1Titles() {
    static const std::vector<std::string> titles = {
        "São Tomé", "Été", "Über Café", "Ça marche très bien, André", "Crème", "Ölgemälde", "Grüße", "naïve",
        "Déjà vu", "À la claire fontaine", "Les Misérables", "Für Elise", "Señorita", "Mañana", "Ação",
        "Smörgåsbord", "Noël", "Mötley Crüe", "Beyoncé", "Björk", "Sigur Rós", "El Cóndor Pasa", "© 1998 Ñandú",
        "Tränen lügen nicht", "Bésame mucho", "Fête", "Où es-tu", "«Ça plane pour moi»", "ÉTÉ",
        "Comme d'habitude, Claude François", "Tous les garçons et les filles", "Pavane pour une infante défunte",
        "Les Champs-Élysées (Joe Dassin)"};
    return titles;
}

// Kana, common and rare kanji, full-width and half-width text, ASCII among them; titles longer than
// 30 bytes whose ID3v1 field is cut inside a character after ASCII ("…Theme" + the lead byte of
// "残"), after kana, after a kanji, or falls on a whole character.
inline const std::vector<std::string>& JapaneseTitles() {
    static const std::vector<std::string> titles = {
        "写真", "ソング", "さくら", "上を向いて歩こう", "涙そうそう", "千本桜", "残酷な天使のテーゼ", "薔薇", "檸檬",
        "麒麟", "餃子", "ｿﾝｸﾞ", "ﾗﾌﾞﾏｼｰﾝ", "ﾏﾂｹﾝｻﾝﾊﾞII", "ｶﾞｯﾁｬﾏﾝの歌", "ﾌﾟﾘﾝｾｽ ﾌﾟﾘﾝｾｽ", "ﾄﾞﾗｺﾞﾝｸｴｽﾄ序曲",
        "ＬＯＶＥマシーン", "Ｔｈｅ ＢＬＵＥ ＨＥＡＲＴＳ", "Lemon / 米津玄師", "夜に駆ける", "津軽海峡・冬景色",
        "Neon Genesis Evangelion Theme残酷な天使のテーゼ", "1 ありがとう、さようなら、またね",
        "ｱﾆﾒ ﾄﾞﾗｺﾞﾝﾎﾞｰﾙ ｵｰﾌﾟﾆﾝｸﾞ ﾃｰﾏ 摩訶不思議ｱﾄﾞﾍﾞﾝﾁｬｰ", "A 千本桜 夜ニ紛レ 君ノ声モ届カナイヨ",
        "ＡＢ上を向いて歩こう、涙がこぼれないように", "ｿﾞﾝﾋﾞ ﾗﾝﾄﾞ ｻｶﾞ ﾘﾍﾞﾝｼﾞ ｵﾘｼﾞﾅﾙ ｻｳﾝﾄﾞﾄﾗｯｸ"};
    return titles;
}

inline std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) out += std::string{digits[c >> 4], digits[c & 15]};
    return out;
}

inline std::string FromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// Each text encoded by Python's codec ("latin-1", "cp932"); empty when Python is not there.
inline std::vector<std::string> EncodedByPython(const std::vector<std::string>& texts, const std::string& codec) {
    std::string command = "/usr/bin/python3 -c 'import sys\nfor t in sys.argv[2:]: "
                          "print(bytes.fromhex(t).decode().encode(sys.argv[1]).hex())' " +
                          codec;
    for (const auto& t : texts) command += ' ' + Hex(t);
    std::string out = CommandOutput(command + " 2>/dev/null");
    std::vector<std::string> encoded;
    for (size_t at = 0; at < out.size();) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos) end = out.size();
        encoded.push_back(FromHex(out.substr(at, end - at)));
        at = end + 1;
    }
    if (encoded.size() != texts.size()) encoded.clear();
    return encoded;
}

} // namespace lumora::test
