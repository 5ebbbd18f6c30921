#pragma once
// The code page a base is read with, and the bytes its values give a symbol.
//
// A dBase table names its code page in byte 29 of its header (the language
// driver); a .cpg file beside it (the GIS convention) wins over that byte; a
// table that names none keeps the OEM to ANSI rule (cp850). A text base is
// UTF-8 when it starts with a byte-order mark or when its bytes are all valid
// UTF-8 with at least one multi-byte sequence, else Latin-1 (one byte, one
// character). The user may force any of them.
//
// What a symbol carries is the text in Windows-1252 (which readers show as
// ISO-8859-1, the standards' default), or in UTF-8 behind an ECI for a QR code
// that asks for it.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>

namespace codiflux {

// Single-byte code pages and UTF-8. Cp850 is the table engine's OEM to ANSI
// rule: characters Windows-1252 lacks (box drawing, blocks) read as '+', '-',
// '|', 'i', '_' or '?', as every version did.
enum class CodePage : int {
    Latin1,
    Cp1252,
    Cp850,
    Cp437,
    Cp737,
    Cp852,
    Cp857,
    Cp860,
    Cp861,
    Cp863,
    Cp865,
    Cp866,
    Cp874,
    Cp1250,
    Cp1251,
    Cp1253,
    Cp1254,
    Cp1255,
    Cp1256,
    Cp1257,
    MacRoman,
    MacCyrillic,
    MacLatin2,
    MacGreek,
    Utf8,
};
constexpr int kCodePageCount = int(CodePage::Utf8) + 1;

// Where a base's code page came from.
enum class CodePageOrigin { Default, Header, CpgFile, Detected, Forced };

struct BaseCodePage {
    CodePage page = CodePage::Cp850;
    CodePageOrigin origin = CodePageOrigin::Default;
    int headerByte = -1;  // a DBF's byte 29, -1 for a text base
    friend bool operator==(const BaseCodePage&, const BaseCodePage&) = default;
};

// The name the command line takes and prints: "cp1252", "latin-1", "utf-8",
// "mac-roman" ...
QString codePageName(CodePage page);
// A name of the command line or of a .cpg file, without regard to case,
// '-', '_' or blanks: the names above, "windows-NNNN", "ibmNNN", "iso-8859-1",
// "latin1", "utf8", "macintosh". False for an unknown name ("auto" included).
bool parseCodePageName(const QString& name, CodePage* page);
// The contents of a .cpg file: a name as above, or a number (1252, 850,
// 65001, 28591, 10000), optionally behind "ANSI " or "OEM ".
bool parseCpgText(QByteArrayView text, CodePage* page);
// The code page byte 29 of a dBase header names; false for 0x00 and a value
// this reader does not know (the multi-byte Asian code pages among them).
bool codePageOfLanguageDriver(unsigned char byte, CodePage* page);

// A DBF's code page: `forced` when given, else its .cpg file (the table's
// path with the suffix ".cpg", either case) when it names one, else byte 29,
// else the default (cp850).
BaseCodePage dbfCodePage(const QString& path, unsigned char languageDriver, const CodePage* forced = nullptr);
// A text base's: `forced`, else UTF-8 when detected, else Latin-1. Reads the
// whole file; a file that cannot be read gives Latin-1.
BaseCodePage textCodePage(const QString& path, const CodePage* forced = nullptr);
// Whether `bytes` are valid UTF-8 holding at least one multi-byte sequence.
bool looksLikeUtf8(QByteArrayView bytes);

// "cp1252 (en-tête, octet 29 = 0x03)", "utf-8 (fichier .cpg)", "cp850 (par
// défaut)", ... as the window and the command line show it.
QString codePageDescription(const BaseCodePage& codePage);

// Bytes of `page` as text.
QString decodeText(QByteArrayView bytes, CodePage page);

// The byte Windows-1252 gives a character (Latin-1 characters as they are,
// the 27 of 0x80-0x9F at their place), -1 when it has none.
int symbolByte(char32_t c);
// The bytes a symbol carries for `text`: UTF-8 when `utf8`, else
// Windows-1252, a character it lacks made '?' and put in *refused (when
// given, the first one only). False when a character was refused.
bool symbolBytes(const QString& text, bool utf8, QByteArray& out, char32_t* refused = nullptr);
// The text of a symbol's bytes, as the preview shows it.
QString symbolText(QByteArrayView bytes, bool utf8);

// The conversion of a record's stored bytes into a symbol's bytes, made once
// for a run. Const: any number of threads may share one.
class ValueTranscoder {
public:
    ValueTranscoder() = default;  // Latin-1 to Windows-1252: the bytes as they are
    ValueTranscoder(CodePage source, bool utf8Target);

    // At most this many output bytes per input byte.
    int expansion() const { return utf8Target_ && source_ != CodePage::Utf8 ? 3 : 1; }
    bool utf8Target() const { return utf8Target_; }
    bool identity() const { return identity_; }
    // Converts in[0 .. length-1] to out (room for length x expansion()
    // bytes; out must not overlap in). The output's length, or -1 with the
    // first character the symbol cannot carry in *refused.
    int convert(const char* in, int length, char* out, char32_t* refused) const;

private:
    CodePage source_ = CodePage::Latin1;
    bool utf8Target_ = false;
    bool identity_ = true;
    std::array<std::int16_t, 256> bytes_{};  // single-byte to Windows-1252: the byte, -1 refused
    std::array<char16_t, 256> units_{};      // single-byte: the character of each byte
};

}  // namespace codiflux
