#pragma once
// Real titles as Western and Japanese systems stored them in 8-bit text (Windows-1252 and code page
// 932), for the tests of what tag readers and name displays make of such bytes, and the generated
// tables of thousands of titles (tools/make-legacy-text-tables). The bytes come from Python's own
// codecs, independent of the iconv the program reads them with.

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/CommandOutput.h"

namespace lumora::test {

// Western titles, artists and albums as Windows tools stored them (Windows-1252): accents at the
// start, in the middle and at the end; words whose bytes are also valid CP932 ("Crème",
// "Ölgemälde", "Ação"); the punctuation Windows puts at 0x80-0x9F (’ “ ” – — … € ™ œ š ž);
// runs of accented capitals; titles longer than the 30 bytes of an ID3v1 field, one of them cut
// right after its last accented letter ("…Claude Franç").
inline const std::vector<std::string>& WesternTitles() {
    static const std::vector<std::string> titles = {
        "São Tomé", "Été", "Über Café", "Ça marche très bien, André", "Crème", "Ölgemälde", "Grüße", "naïve",
        "Déjà vu", "À la claire fontaine", "Les Misérables", "Für Elise", "Señorita", "Mañana", "Ação",
        "Smörgåsbord", "Noël", "Mötley Crüe", "Beyoncé", "Björk", "Sigur Rós", "El Cóndor Pasa", "© 1998 Ñandú",
        "Tränen lügen nicht", "Bésame mucho", "Fête", "Où es-tu", "«Ça plane pour moi»", "ÉTÉ",
        "Comme d'habitude, Claude François", "Tous les garçons et les filles", "Pavane pour une infante défunte",
        "Les Champs-Élysées (Joe Dassin)",
        // Windows-1252 beyond ISO-8859-1.
        "I’m Yours", "Rock’n’Roll", "Žena", "Café…", "Don’t Stop Me Now", "It’s My Life", "Sweet Child o’ Mine",
        "Hey Jude – Remastered 2009", "Bohemian Rhapsody — Live Aid", "“Heroes”", "‘Round Midnight",
        "Hallelujah…", "Wait… What?", "99 Luftballons – 9,99 €", "€5 Shoes", "Coca-Cola™", "Love™ (Remix)",
        "Œuvres complètes", "Cœur de pirate", "Œil pour œil", "Šuma", "Život je lep", "Škoda Blues",
        "Kiša – Tišina", "Žito", "L’amour est bleu", "C’est la vie", "J’ai deux amours", "Qu’est-ce que c’est",
        "Aujourd’hui", "Nothing’s Gonna Change My Love", "Guns N’ Roses", "Livin’ on a Prayer",
        "Rock ’n’ Roll Ain’t Noise Pollution", "Sinéad O’Connor – Nothing Compares 2 U", "Bowie’s “Heroes”",
        "Twenty—One", "2019–2020 Tour", "Track 01 – Intro", "„Komm, gib mir deine Hand“", "Cost: €20",
        "The Way You Look Tonight…", "…And Justice for All", "Lasciatemi cantare… L’italiano",
        // Runs of accented capitals, and capitals and small letters side by side.
        "ÅÄÖ", "ÆØÅ", "ÄÖÜ", "ÀÉÎÕÜ", "AéA", "Ééé", "CAFÉ", "AÇÃO", "CORAÇÃO", "MÖTLEY CRÜE", "ØRESUND", "ÉLAN",
        // Song titles, artists and albums.
        "Dancing Queen – ABBA", "Sigur Rós – Hoppípolla", "Björk — Jóga", "Motörhead", "Blue Öyster Cult",
        "Queensrÿche", "Hüsker Dü", "¿Quién Será?", "¡Ay, caramba!", "Bésame Mucho – Live", "Corazón Espinado",
        "Garota de Ipanema", "Águas de Março", "Canção do Mar", "Coração Selvagem", "Ação e Reação",
        "São Paulo, 1969", "Schöne Grüße", "Die Ärzte – Schrei nach Liebe", "Über den Wolken",
        "Ein Jäger aus Kurpfalz", "Mädchen", "Größenwahn", "Straße", "Où est ma tête ?", "Édith Piaf – La vie en rose",
        "Sérénade", "Été indien", "Désenchantée", "Ève lève-toi", "L’Été indien – Joe Dassin", "Perché",
        "Più bella cosa", "Così celeste", "Città vuota", "Flickorna på TV2", "Håll mitt hjärta", "Sommaren är kort",
        "Öppna landskap", "Kärlekens tunga", "Æblegrød", "Søren Kierkegaard", "Kæmpe stor", "Løvenes konge",
        "Blåbærsyltetøy", "Sjømannsvise", "Vår beste dag", "Crème brûlée", "Piñata", "El Niño", "Año nuevo",
        "Beyoncé – Déjà Vu", "Café del Mar – Chill Out", "Pokémon Theme", "Cliché", "Résumé", "Fiancée",
        "Coup d’État", "Rosé", "Naïveté", "Zoë", "Chloë", "Renée", "Jürgen", "Stéphane", "José González – Heartbeats",
        "Ólafur Arnalds", "Ménage à trois", "Þórr", "Perú", "Tú", "Sí", "Él", "Ñu", "Mía", "Río", "Ça", "Ô Sole Mio"};
    return titles;
}

// Japanese titles, artists and albums as Japanese systems stored them (code page 932): kana, common
// and rare kanji, full-width and half-width text, ASCII among them and glued to them; titles
// longer than 30 bytes whose ID3v1 field is cut inside a character after ASCII ("…Theme" + the
// lead byte of "残"), after kana, after a kanji, or falls on a whole character.
inline const std::vector<std::string>& JapaneseTitles() {
    static const std::vector<std::string> titles = {
        "写真", "ソング", "さくら", "上を向いて歩こう", "涙そうそう", "千本桜", "残酷な天使のテーゼ", "薔薇", "檸檬",
        "麒麟", "餃子", "ｿﾝｸﾞ", "ﾗﾌﾞﾏｼｰﾝ", "ﾏﾂｹﾝｻﾝﾊﾞII", "ｶﾞｯﾁｬﾏﾝの歌", "ﾌﾟﾘﾝｾｽ ﾌﾟﾘﾝｾｽ", "ﾄﾞﾗｺﾞﾝｸｴｽﾄ序曲",
        "ＬＯＶＥマシーン", "Ｔｈｅ ＢＬＵＥ ＨＥＡＲＴＳ", "Lemon / 米津玄師", "夜に駆ける", "津軽海峡・冬景色",
        "Neon Genesis Evangelion Theme残酷な天使のテーゼ", "1 ありがとう、さようなら、またね",
        "ｱﾆﾒ ﾄﾞﾗｺﾞﾝﾎﾞｰﾙ ｵｰﾌﾟﾆﾝｸﾞ ﾃｰﾏ 摩訶不思議ｱﾄﾞﾍﾞﾝﾁｬｰ", "A 千本桜 夜ニ紛レ 君ノ声モ届カナイヨ",
        "ＡＢ上を向いて歩こう、涙がこぼれないように", "ｿﾞﾝﾋﾞ ﾗﾝﾄﾞ ｻｶﾞ ﾘﾍﾞﾝｼﾞ ｵﾘｼﾞﾅﾙ ｻｳﾝﾄﾞﾄﾗｯｸ",
        // Half-width katakana after a letter, as the program itself saved them.
        "AAAAAAAAAAAAAAAAAAAAAAAAAAAAﾃﾞ", "Aﾀｲﾌﾟ", "Bｻｲﾄﾞ", "Aﾃﾞ", "Aｱｲ", "ﾃｽﾄ", "ﾏﾏ", "ﾊﾟﾊﾟ", "ﾄﾏﾄ", "ﾗｰﾒﾝ",
        "ﾗｲﾌﾞ", "ﾍﾞｽﾄ", "ｵﾘｼﾞﾅﾙ", "ﾃﾞﾓ", "ﾘﾐｯｸｽ", "ｲﾝｽﾄ", "01 ｵｰﾌﾟﾆﾝｸﾞ", "Track01 ｴﾝﾃﾞｨﾝｸﾞ", "ｱﾆﾒｿﾝｸﾞ",
        "ﾄﾞﾗｺﾞﾝﾎﾞｰﾙZ", "ｻｻﾞｴさん", "ﾎﾟｹﾓﾝ", "ｶﾗｵｹ", "ｶﾗｵｹ Ver.",
        // Double-byte characters right after letters, rare kanji among them.
        "A面", "B面", "CD付き", "DISC1 本編", "Vol.２", "第1話", "ライブ2023", "東京2020", "1999年の夏", "Lv.99",
        "Ｎｏ．１", "SPY×FAMILY", "Official髭男dism", "鑪", "鑪ヶ崎", "薔", "Mr.鬱",
        // Song titles, artists and albums.
        "さくらんぼ", "ひまわりの約束", "糸", "海の声", "恋", "打上花火", "紅蓮華", "マリーゴールド", "白日",
        "うっせぇわ", "ドライフラワー", "炎", "香水", "シャルル", "ロキ", "怪物", "群青", "アイドル", "ミックスナッツ",
        "新時代", "残響散歌", "猫", "水平線", "勿忘", "115万キロのフィルム", "瞬き", "小さな恋のうた", "島人ぬ宝",
        "天体観測", "ハナミズキ", "世界に一つだけの花", "負けないで", "愛は勝つ", "それが大事", "ラブ・ストーリーは突然に",
        "夜空ノムコウ", "宇多田ヒカル", "椎名林檎", "米津玄師", "あいみょん", "ＹＯＡＳＯＢＩ", "米津玄師 - Lemon",
        "back number - 高嶺の花子さん", "Mrs. GREEN APPLE - 青と夏", "Superfly - 愛をこめて花束を",
        "いきものがかり - ありがとう", "スピッツ - ロビンソン", "ゆず - 栄光の架橋", "サザンオールスターズ - 真夏の果実",
        "中島みゆき - 糸", "美空ひばり - 川の流れのように", "坂本九 - 上を向いて歩こう", "松任谷由実 - 春よ、来い",
        "竹内まりや - プラスティック・ラヴ", "山下達郎 - クリスマス・イブ", "X JAPAN - 紅", "L'Arc～en～Ciel - HONEY",
        "ポルノグラフィティ - アゲハ蝶", "ベスト・オブ・ミュージック", "ＴＨＥ ＢＥＳＴ", "ゴールデン☆ベスト",
        "オリジナル・サウンドトラック", "劇場版 鬼滅の刃 無限列車編", "ジブリ作品集", "となりのトトロ",
        "千と千尋の神隠し", "もののけ姫", "君の名は。", "天気の子", "すずめの戸締まり", "ドラゴンクエストⅢ",
        "ファイナルファンタジーVII", "新世紀エヴァンゲリオン", "機動戦士ガンダム", "涼宮ハルヒの憂鬱", "けいおん！",
        "ラブライブ！", "進撃の巨人", "鬼滅の刃", "呪術廻戦", "久石譲", "坂本龍一", "菅野よう子", "梶浦由記",
        "澤野弘之", "鷺巣詩郎", "植松伸夫", "すぎやまこういち", "02 夜に駆ける", "03 君の知らない物語",
        "【公式】テーマソング", "「春」より", "♪ハッピーバースデー", "交響曲第9番「合唱」", "ピアノ協奏曲 第1番",
        "亜麻色の髪の乙女", "月光 第3楽章", "北国の春", "津軽じょんがら節", "祇園精舎", "蝉時雨", "鬱金香", "薫風"};
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

// Each string through Python's codec: UTF-8 text encoded ("?" for what the codec cannot encode), or
// bytes decoded to UTF-8 (U+FFFD for what the codec cannot decode); empty when Python is not there.
inline std::vector<std::string> ThroughPython(const std::vector<std::string>& in, const std::string& codec,
                                              bool encode) {
    std::string command = std::string("/usr/bin/python3 -c 'import sys\nfor t in sys.argv[2:]: print(") +
                          (encode ? "bytes.fromhex(t).decode().encode(sys.argv[1], \"replace\")"
                                  : "bytes.fromhex(t).decode(sys.argv[1], \"replace\").encode()") +
                          ".hex())' " + codec;
    for (const auto& t : in) command.append(" ").append(Hex(t));
    std::string out = CommandOutput(command + " 2>/dev/null");
    std::vector<std::string> converted;
    for (size_t at = 0; at < out.size();) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos) end = out.size();
        converted.push_back(FromHex(out.substr(at, end - at)));
        at = end + 1;
    }
    if (converted.size() != in.size()) converted.clear();
    return converted;
}
inline std::vector<std::string> EncodedByPython(const std::vector<std::string>& texts, const std::string& codec) {
    return ThroughPython(texts, codec, true);
}
inline std::vector<std::string> DecodedByPython(const std::vector<std::string>& bytes, const std::string& codec) {
    return ThroughPython(bytes, codec, false);
}

// A generated table of tests/framework/data: each title with its 8-bit bytes.
struct TTitleBytes {
    std::string Bytes, Text;
};
inline std::vector<TTitleBytes> TitleTable(const std::string& name) {
    std::ifstream in(std::string(LUMORA_SOURCE_DIR) + "/tests/framework/data/" + name);
    std::vector<TTitleBytes> table;
    for (std::string line; std::getline(in, line);) {
        size_t tab = line.find('\t');
        if (tab != std::string::npos) table.push_back({FromHex(line.substr(0, tab)), line.substr(tab + 1)});
    }
    return table;
}

} // namespace lumora::test
