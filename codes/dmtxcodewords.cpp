// Encodation: input bytes into data codewords, the way libdmtx 0.7.7 does it.
//
// libdmtx models an encoding as a "stream": the current scheme, the next
// input byte, the length of the current chain of codewords in its scheme (in
// words and in scheme values), a status (encoding, complete, invalid, fatal)
// and the output so far. A scheme encodes one "chunk" at a time and then
// checks its own end-of-symbol conditions. The single-scheme encoding runs
// chunks of one scheme until the stream is no longer encoding. AutoBest is a
// search over 17 streams (ASCII full, ASCII digit pairs at two offsets, C40,
// Text and X12 at three offsets, EDIFACT at four, Base256): for every input
// byte each stream is advanced from the best of the others.
//
// We follow those rules step by step, including the odd ones (marked "as
// libdmtx"), because the contract is the same symbol. What differs is the
// cost: a stream's status and length depend only on the other stream fields
// and the input, never on the output bytes, so the search runs on stream
// headers alone. Each header carries the history of chunk calls that made
// it (a node in a shared tree); the winner's history is replayed once, with
// real output, at the end. The search sees an input byte only through its
// class (see searchClassOf()), so a winner also serves the next values whose
// bytes have the same classes: each thread keeps its recent ones.

#include "codes/datamatrix.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace codiflux::datamatrix {

namespace {

enum Scheme : int { Ascii = 0, C40 = 1, Text = 2, X12 = 3, Edifact = 4, Base256 = 5 };
enum Status : int { Encoding, Complete, Invalid, Fatal };
enum Option : int { Normal, Compact, Full };

constexpr int kLatch[6] = {0, 230, 239, 238, 240, 231};
constexpr int kUnlatchCtx = 254;
constexpr int kUnlatchEdifact = 31;
constexpr int kPad = 129;
constexpr int kUpperShift = 235;
constexpr int kFnc1 = 232;

constexpr std::array<SizeInfo, kSizeCount> kSizes{{
    {10, 10, 8, 8, 1, 1, 3, 5},           {12, 12, 10, 10, 1, 1, 5, 7},
    {14, 14, 12, 12, 1, 1, 8, 10},        {16, 16, 14, 14, 1, 1, 12, 12},
    {18, 18, 16, 16, 1, 1, 18, 14},       {20, 20, 18, 18, 1, 1, 22, 18},
    {22, 22, 20, 20, 1, 1, 30, 20},       {24, 24, 22, 22, 1, 1, 36, 24},
    {26, 26, 24, 24, 1, 1, 44, 28},       {32, 32, 14, 14, 2, 1, 62, 36},
    {36, 36, 16, 16, 2, 1, 86, 42},       {40, 40, 18, 18, 2, 1, 114, 48},
    {44, 44, 20, 20, 2, 1, 144, 56},      {48, 48, 22, 22, 2, 1, 174, 68},
    {52, 52, 24, 24, 2, 2, 204, 42},      {64, 64, 14, 14, 4, 2, 280, 56},
    {72, 72, 16, 16, 4, 4, 368, 36},      {80, 80, 18, 18, 4, 4, 456, 48},
    {88, 88, 20, 20, 4, 4, 576, 56},      {96, 96, 22, 22, 4, 4, 696, 68},
    {104, 104, 24, 24, 4, 6, 816, 56},    {120, 120, 18, 18, 6, 6, 1050, 68},
    {132, 132, 20, 20, 6, 8, 1304, 62},   {144, 144, 22, 22, 6, 10, 1558, 62},
    {8, 18, 6, 16, 1, 1, 5, 7},           {8, 32, 6, 14, 2, 1, 10, 11},
    {12, 26, 10, 24, 1, 1, 16, 14},       {12, 36, 10, 16, 2, 1, 22, 18},
    {16, 36, 14, 16, 2, 1, 32, 24},       {16, 48, 14, 22, 2, 1, 49, 28},
}};

int capacity(int sizeIdx)
{
    return sizeIdx >= 0 && sizeIdx < kSizeCount ? kSizes[std::size_t(sizeIdx)].dataWords : -1;
}

// The smallest size of the request holding `words`, or -1.
int findSymbolSize(int words, int request)
{
    if (words <= 0)
        return -1;
    int size = request;
    if (request == kSquareAuto || request == kRectAuto) {
        const int first = request == kSquareAuto ? 0 : 24;
        const int end = request == kSquareAuto ? 24 : 30;
        for (size = first; size < end && kSizes[std::size_t(size)].dataWords < words; ++size) { }
        if (size == end)
            return -1;
    }
    return words > capacity(size) ? -1 : size;
}

unsigned char randomize253(int value, int position)
{
    int v = value + ((149 * position) % 253) + 1;
    return (unsigned char)(v > 254 ? v - 254 : v);
}

unsigned char randomize255(int value, int position)
{
    int v = value + ((149 * position) % 255) + 1;
    return (unsigned char)(v <= 255 ? v : v - 256);
}

unsigned char unrandomize255(int value, int position)
{
    int v = value - (((149 * position) % 255) + 1);
    return (unsigned char)(v < 0 ? v + 256 : v);
}

bool isDigit(int c)
{
    return c >= '0' && c <= '9';
}

// Up to six C40 / Text / X12 values.
struct Values {
    unsigned char v[6];
    int n = 0;
    bool push(int x)
    {
        if (n >= 6)
            return false;
        v[n++] = (unsigned char)x;
        return true;
    }
    void dropThree()
    {
        // as libdmtx: the values move down by three and the list shrinks by
        // at most three
        for (int i = 0; i < n - 3; ++i)
            v[i] = v[i + 3];
        n = n > 3 ? n - 3 : 0;
    }
};

// The values of one input byte in C40, Text or X12; false when the scheme has
// none for it.
bool pushCtxValues(Values& list, int c, int scheme, int fnc1)
{
    if (c > 127 && (fnc1 < 0 || c != fnc1)) {
        if (scheme == X12)
            return false;
        list.push(1);
        list.push(30);
        c -= 128;
    }
    if (scheme == X12) {
        if (c == 13)
            return list.push(0);
        if (c == 42)
            return list.push(1);
        if (c == 62)
            return list.push(2);
        if (c == 32)
            return list.push(3);
        if (c >= 48 && c <= 57)
            return list.push(c - 44);
        if (c >= 65 && c <= 90)
            return list.push(c - 51);
        return false;
    }
    if (fnc1 >= 0 && c == fnc1)
        return list.push(1) && list.push(27);
    if (c <= 31)
        return list.push(0) && list.push(c);
    if (c == 32)
        return list.push(3);
    if (c <= 47)
        return list.push(1) && list.push(c - 33);
    if (c <= 57)
        return list.push(c - 44);
    if (c <= 64)
        return list.push(1) && list.push(c - 43);
    if (c <= 90 && scheme == C40)
        return list.push(c - 51);
    if (c <= 90 && scheme == Text)
        return list.push(2) && list.push(c - 64);
    if (c <= 95)
        return list.push(1) && list.push(c - 69);
    if (c == 96 && scheme == Text)
        return list.push(2) && list.push(0);
    if (c <= 122 && scheme == Text)
        return list.push(c - 83);
    if (c <= 127)
        return list.push(2) && list.push(c - 96);
    return false;
}

// The stream header (see the top of the file); `history` is its node in the
// history tree, -1 for a fresh stream.
struct Stream {
    int scheme;
    int inputNext;
    int chainValues;
    int chainWords;
    int sizeIdx;
    int status;
    int length;
    int history;
};
constexpr Stream kFreshStream{Ascii, 0, 0, 0, -1, Encoding, 0, -1};

// One encoding: the input and the request shared by every stream, and the
// output buffer of the stream being written (null while searching on headers).
class Encodation {
public:
    Encodation(const unsigned char* input, int length, int sizeRequest, int fnc1)
        : in_(input), n_(length), request_(sizeRequest), fnc1_(fnc1)
    { }

    void setOutput(unsigned char* out, int capacity)
    {
        out_ = out;
        capacity_ = capacity;
    }

    // One chunk in `scheme` (libdmtx's EncodeNextChunk): prepare() is the
    // switch of scheme (the target may become ASCII for X12), false when it
    // ended the stream; body() the chunk itself and its end-of-symbol rules.
    void chunk(Stream& s, int scheme, int option);
    bool prepare(Stream& s, int& scheme);
    void body(Stream& s, int scheme, int option);
    // Far from the end of the buffer, and not a Base256 chain with a
    // two-byte length (which may drop a byte at the end of the symbol): no
    // chunk makes the output shorter then.
    bool lengthFree(const Stream& s) const
    {
        return s.length < capacity_ - 16 && !(s.scheme == Base256 && s.chainWords - s.chainValues == 2);
    }
    // How many times a symbol size was looked up: a body() run during which
    // none was (and that stayed far from the buffer's end) gives every
    // stream with the same header the same result, whatever its length.
    int sizeLookups() const { return sizeLookups_; }
    int bufferCapacity() const { return capacity_; }
    // What partialX12Remains() finds from `inputNext`: 0 no partial triplet
    // at the end, 1 one, 2 a byte X12 cannot encode first (the stream would
    // be made invalid).
    int x12Tail(int inputNext) const
    {
        if (x12Tails_)
            return x12Tails_[inputNext];
        return scanX12Tail(inputNext);
    }
    int scanX12Tail(int inputNext) const
    {
        Values values;
        for (int next = inputNext; next < n_; ++next) {
            if (!pushCtxValues(values, in_[next], X12, fnc1_))
                return 2;
            if (values.n >= 3)
                return 0;
        }
        return values.n != 0 ? 1 : 0;
    }
    void appendAscii(Stream& s, int value);
    // x12Tail() of every position 0..n, worked out once for the input.
    void setX12Tails(const signed char* tails) { x12Tails_ = tails; }
    int inputLength() const { return n_; }

    bool hasNext(const Stream& s) const { return s.inputNext < n_; }
    // Set once a call reached a state where libdmtx aborts the program.
    bool aborts() const { return aborts_; }
    int advanceNext(Stream& s)
    {
        const int v = peekNext(s);
        if (s.status == Encoding)
            ++s.inputNext;
        return v;
    }

private:
    static void markComplete(Stream& s, int sizeIdx)
    {
        if (s.status == Encoding) {
            s.sizeIdx = sizeIdx;
            s.status = Complete;
        }
    }
    static void markInvalid(Stream& s) { s.status = Invalid; }
    static void markFatal(Stream& s) { s.status = Fatal; }

    void append(Stream& s, int value)
    {
        if (s.length >= capacity_) {
            markFatal(s);
            return;
        }
        if (out_)
            out_[s.length] = (unsigned char)value;
        ++s.length;
        ++s.chainWords;
    }
    int removeLast(Stream& s)
    {
        if (s.chainWords <= 0) {
            markFatal(s);
            return 0;
        }
        --s.length;
        --s.chainWords;
        return out_ ? out_[s.length] : 0;
    }
    void set(Stream& s, int index, int value)
    {
        if (index < 0 || index >= s.length)
            markFatal(s);
        else if (out_)
            out_[index] = (unsigned char)value;
    }
    int peekNext(Stream& s)
    {
        if (s.inputNext < n_)
            return in_[s.inputNext];
        markFatal(s);
        return 0;
    }
    void advancePrev(Stream& s)
    {
        if (s.inputNext > 0)
            --s.inputNext;
        else
            markFatal(s);
    }
    bool isFnc1(int c) const { return fnc1_ >= 0 && c == fnc1_; }
    // The symbol size for `words` (the only place an output length meets a size).
    int fit(int words)
    {
        ++sizeLookups_;
        return findSymbolSize(words, request_);
    }

    void changeScheme(Stream& s, int target, bool explicitUnlatch);
    int remainingInAscii(const Stream& s, unsigned char* tmp, int room, bool* ok);
    void padInAscii(Stream& s, int sizeIdx);

    void chunkAscii(Stream& s, int option);
    void completeAscii(Stream& s);
    void chunkCtx(Stream& s);
    void appendCtx(Stream& s, Values& values);
    void unlatchCtx(Stream& s);
    void completeCtx(Stream& s);
    void completePartialC40Text(Stream& s, Values& values);
    void completePartialX12(Stream& s, Values& values);
    void finishInAscii(Stream& s, const unsigned char* values, int count, int remaining, int size1);
    bool partialX12Remains(Stream& s);
    void chunkEdifact(Stream& s);
    void appendEdifact(Stream& s, int value);
    void completeEdifact(Stream& s);
    void chunkBase256(Stream& s);
    void appendBase256(Stream& s, int value);
    void completeBase256(Stream& s);
    void updateBase256Header(Stream& s, int perfectSizeIdx);
    void base256InsertFirst(Stream& s);
    void base256RemoveFirst(Stream& s);

    const unsigned char* in_;
    int n_;
    int request_;
    int fnc1_;
    unsigned char* out_ = nullptr;
    int capacity_ = kOutputCapacity;
    bool aborts_ = false;
    int sizeLookups_ = 0;
    const signed char* x12Tails_ = nullptr;
};

#define CHKERR                         \
    do {                               \
        if (s.status != Encoding)      \
            return;                    \
    } while (false)

void Encodation::chunk(Stream& s, int scheme, int option)
{
    if (prepare(s, scheme))
        body(s, scheme, option);
}

bool Encodation::prepare(Stream& s, int& scheme)
{
    // X12 is not entered when the input ends in a partial triplet.
    if (s.scheme != X12 && scheme == X12 && partialX12Remains(s))
        scheme = Ascii;
    if (s.scheme != scheme) {
        changeScheme(s, scheme, true);
        if (s.status != Encoding)
            return false;
        if (s.scheme != scheme) {
            markFatal(s);
            return false;
        }
    }
    return true;
}

void Encodation::body(Stream& s, int scheme, int option)
{
    // EDIFACT may be done before its first word.
    if (scheme == Edifact) {
        completeEdifact(s);
        CHKERR;
    }
    switch (s.scheme) {
    case Ascii:
        chunkAscii(s, option);
        CHKERR;
        completeAscii(s);
        break;
    case C40:
    case Text:
    case X12:
        chunkCtx(s);
        CHKERR;
        completeCtx(s);
        break;
    case Edifact:
        chunkEdifact(s);
        CHKERR;
        completeEdifact(s);
        break;
    case Base256:
        chunkBase256(s);
        CHKERR;
        completeBase256(s);
        break;
    default:
        markFatal(s);
    }
}

void Encodation::changeScheme(Stream& s, int target, bool explicitUnlatch)
{
    if (s.scheme == target)
        return;
    if (explicitUnlatch) {
        if (s.scheme == C40 || s.scheme == Text || s.scheme == X12) {
            unlatchCtx(s);
            CHKERR;
        } else if (s.scheme == Edifact) {
            appendEdifact(s, kUnlatchEdifact);
            CHKERR;
        }
    }
    s.scheme = Ascii;
    if (target >= C40 && target <= Base256) {
        appendAscii(s, kLatch[target]);
        CHKERR;
    } else if (target != Ascii) {
        // as libdmtx: a scheme it does not know is taken on without a latch
        // (and the chunk then fails)
    }
    s.scheme = target;
    s.chainWords = 0;
    s.chainValues = 0;
    if (target == Base256)
        updateBase256Header(s, -1);
}

void Encodation::appendAscii(Stream& s, int value)
{
    if (s.scheme != Ascii) {
        markFatal(s);
        return;
    }
    append(s, value);
    CHKERR;
    ++s.chainValues;
}

void Encodation::chunkAscii(Stream& s, int option)
{
    if (!hasNext(s))
        return;
    const int v0 = advanceNext(s);
    CHKERR;
    int v1 = 0;
    bool pair = false;
    if ((option == Compact || option == Normal) && hasNext(s)) {
        v1 = peekNext(s);
        CHKERR;
        pair = !isFnc1(v1) && isDigit(v0) && isDigit(v1);
    }
    if (pair) {
        advanceNext(s);
        CHKERR;
        appendAscii(s, 10 * (v0 - '0') + (v1 - '0') + 130);
    } else if (option == Compact) {
        markInvalid(s);
    } else if (isFnc1(v0)) {
        appendAscii(s, kFnc1);
    } else if (v0 < 128) {
        appendAscii(s, v0 + 1);
    } else {
        appendAscii(s, kUpperShift);
        CHKERR;
        appendAscii(s, v0 - 127);
    }
}

void Encodation::completeAscii(Stream& s)
{
    if (s.status == Complete || hasNext(s))
        return;
    const int size = fit(s.length);
    if (size < 0) {
        markInvalid(s);
        return;
    }
    padInAscii(s, size);
    CHKERR;
    markComplete(s, size);
}

void Encodation::padInAscii(Stream& s, int sizeIdx)
{
    if (s.scheme != Ascii) {
        markFatal(s);
        return;
    }
    if (sizeIdx < 0) {
        markInvalid(s);
        return;
    }
    int remaining = capacity(sizeIdx) - s.length;
    if (!out_) {
        // On headers alone: the words that fit, and a fatal stream if some
        // do not (what the loop below comes to).
        if (remaining <= 0)
            return;
        const int room = capacity_ - s.length;
        const int words = remaining <= room ? remaining : room;
        s.length += words;
        s.chainWords += words;
        if (remaining > room)
            markFatal(s);
        return;
    }
    if (remaining > 0) {
        append(s, kPad);
        CHKERR;
        --remaining;
    }
    for (; remaining > 0; --remaining) {
        append(s, randomize253(kPad, s.length + 1));
        CHKERR;
    }
}

// The rest of the input in ASCII, in at most `room` words written to `tmp`:
// its length, *ok false when that encoding failed.
int Encodation::remainingInAscii(const Stream& from, unsigned char* tmp, int room, bool* ok)
{
    // chunkAscii() in Normal mode on a copy writing to `tmp`, inlined: the
    // word that does not fit any more fails the copy (an extended byte
    // whose second word is left out), as libdmtx's stream would.
    int length = 0;
    *ok = true;
    auto word = [&](int v) {
        if (length >= room) {
            *ok = false;
            return false;
        }
        tmp[length++] = (unsigned char)v;
        return true;
    };
    int i = from.inputNext;
    while (length < room && i < n_) {
        const int v0 = in_[i++];
        const bool pair = i < n_ && !isFnc1(in_[i]) && isDigit(v0) && isDigit(in_[i]);
        if (pair) {
            word(10 * (v0 - '0') + (in_[i] - '0') + 130);
            ++i;
        } else if (isFnc1(v0)) {
            word(kFnc1);
        } else if (v0 < 128) {
            word(v0 + 1);
        } else if (word(kUpperShift) && !word(v0 - 127)) {
            break;
        }
    }
    return length;
}

void Encodation::chunkCtx(Stream& s)
{
    Values values;
    while (hasNext(s)) {
        if (s.scheme == X12) {
            const int c = peekNext(s);
            CHKERR;
            if (isFnc1(c)) {
                // X12 has no partial triplet: the last one or two values go
                // again in ASCII, then FNC1.
                changeScheme(s, Ascii, true);
                CHKERR;
                int back = 0;
                for (; back < values.n % 3; ++back)
                    advancePrev(s);
                CHKERR;
                for (; back > 0; --back) {
                    const int v = advanceNext(s);
                    CHKERR;
                    appendAscii(s, v + 1);
                    CHKERR;
                }
                advanceNext(s);
                CHKERR;
                appendAscii(s, kFnc1);
                return;
            }
        }
        const int c = advanceNext(s);
        CHKERR;
        if (!pushCtxValues(values, c, s.scheme, fnc1_)) {
            markInvalid(s);
            return;
        }
        while (values.n >= 3) {
            appendCtx(s, values);
            CHKERR;
            values.dropThree();
        }
        if (values.n == 0)
            break;
    }
    if (!hasNext(s) && values.n > 0) {
        if (s.scheme == X12)
            completePartialX12(s, values);
        else
            completePartialC40Text(s, values);
    }
}

void Encodation::appendCtx(Stream& s, Values& values)
{
    if (s.scheme < C40 || s.scheme > X12 || values.n < 3) {
        markFatal(s);
        return;
    }
    const int packed = 1600 * values.v[0] + 40 * values.v[1] + values.v[2] + 1;
    append(s, packed / 256);
    CHKERR;
    append(s, packed % 256);
    CHKERR;
    s.chainValues += 3;
}

void Encodation::unlatchCtx(Stream& s)
{
    if (s.scheme < C40 || s.scheme > X12) {
        markFatal(s);
        return;
    }
    if (s.chainValues % 3 != 0) {
        markInvalid(s);
        return;
    }
    append(s, kUnlatchCtx);
    CHKERR;
    ++s.chainValues;
}

void Encodation::completeCtx(Stream& s)
{
    if (s.status == Complete || hasNext(s))
        return;
    const int size = fit(s.length);
    if (size < 0) {
        markInvalid(s);
        return;
    }
    if (capacity(size) - s.length > 0) {
        changeScheme(s, Ascii, true);
        CHKERR;
        padInAscii(s, size);
    }
    markComplete(s, size);
}

// The last values of a C40, Text or X12 stream written in ASCII: a single
// one fills the last free codeword of size `size1` without an unlatch;
// otherwise the stream unlatches, writes them and is padded.
void Encodation::finishInAscii(Stream& s, const unsigned char* values, int count, int remaining, int size1)
{
    if (count == 1 && remaining == 1) {
        changeScheme(s, Ascii, false);
        CHKERR;
        appendAscii(s, values[0]);
        CHKERR;
        s.inputNext = n_;
        markComplete(s, size1);
        return;
    }
    changeScheme(s, Ascii, true);
    CHKERR;
    // as libdmtx: only the last append's status is looked at
    for (int i = 0; i < count; ++i)
        appendAscii(s, values[i]);
    CHKERR;
    const int size = fit(s.length);
    padInAscii(s, size);
    s.inputNext = n_;
    markComplete(s, size);
}

void Encodation::completePartialC40Text(Stream& s, Values& values)
{
    if (s.scheme != C40 && s.scheme != Text) {
        markFatal(s);
        return;
    }
    const int size1 = fit(s.length + 1);
    const int size2 = fit(s.length + 2);
    const int remaining1 = size1 < 0 ? -1 : capacity(size1) - s.length;
    const int remaining2 = size2 < 0 ? -1 : capacity(size2) - s.length;
    if (values.n == 2 && remaining2 == 2) {
        // Two values fill the symbol: Shift 1 pads the triplet.
        values.push(0);
        appendCtx(s, values);
        CHKERR;
        markComplete(s, size2);
        return;
    }
    // The last one or two input bytes go again in ASCII.
    advancePrev(s);
    CHKERR;
    const int last = peekNext(s);
    CHKERR;
    Values probe;
    pushCtxValues(probe, last, s.scheme, fnc1_);
    if (values.n == 2 && probe.n == 1)
        advancePrev(s);
    CHKERR;
    unsigned char tmp[4];
    bool ok = true;
    const int count = remainingInAscii(s, tmp, 4, &ok);
    if (!ok) {
        markFatal(s);
        return;
    }
    finishInAscii(s, tmp, count, remaining1, size1);
}

void Encodation::completePartialX12(Stream& s, Values& values)
{
    if (s.scheme != X12) {
        markFatal(s);
        return;
    }
    for (int i = 0; i < values.n; ++i) {
        advancePrev(s);
        CHKERR;
    }
    unsigned char tmp[2];
    bool ok = true;
    const int count = remainingInAscii(s, tmp, 2, &ok);  // as libdmtx: ok is not looked at
    const int size1 = fit(s.length + 1);
    const int remaining = size1 < 0 ? -1 : capacity(size1) - s.length;
    finishInAscii(s, tmp, count, remaining, size1);
}

bool Encodation::partialX12Remains(Stream& s)
{
    const int tail = x12Tail(s.inputNext);
    if (tail == 2) {
        // As libdmtx: a byte X12 cannot encode before the next full
        // triplet makes the stream itself invalid; the latch that
        // follows is still written.
        markInvalid(s);
        return false;
    }
    return tail == 1;
}

void Encodation::chunkEdifact(Stream& s)
{
    if (!hasNext(s))
        return;
    int c = peekNext(s);
    CHKERR;
    // As libdmtx: the EDIFACT range is tested before FNC1, so an FNC1 byte
    // outside 32-94 makes the stream invalid instead of going out in ASCII.
    if (c < 32 || c > 94) {
        markInvalid(s);
        return;
    }
    if (isFnc1(c)) {
        changeScheme(s, Ascii, true);
        CHKERR;
        advanceNext(s);
        CHKERR;
        appendAscii(s, kFnc1);
        return;
    }
    c = advanceNext(s);
    CHKERR;
    appendEdifact(s, c);
}

void Encodation::appendEdifact(Stream& s, int value)
{
    if (s.scheme != Edifact) {
        markFatal(s);
        return;
    }
    // As libdmtx: the range starts at the unlatch value (31), so an input
    // byte 0x1F is taken as data and reads back as an unlatch.
    if (value < 31 || value > 94) {
        markInvalid(s);
        return;
    }
    const int e = (value & 0x3f) << 2;
    int previous = 0;
    switch (s.chainValues % 4) {
    case 0:
        append(s, e);
        CHKERR;
        break;
    case 1:
        previous = removeLast(s);
        CHKERR;
        append(s, previous | (e >> 6));
        CHKERR;
        append(s, (e << 2) & 0xff);
        CHKERR;
        break;
    case 2:
        previous = removeLast(s);
        CHKERR;
        append(s, previous | (e >> 4));
        CHKERR;
        append(s, (e << 4) & 0xff);
        CHKERR;
        break;
    default:
        previous = removeLast(s);
        CHKERR;
        append(s, previous | (e >> 2));
        CHKERR;
        break;
    }
    ++s.chainValues;
}

void Encodation::completeEdifact(Stream& s)
{
    if (s.status == Complete)
        return;
    const bool clean = s.chainValues % 4 == 0;
    if (clean) {
        unsigned char tmp[3];
        bool ok = true;
        const int count = remainingInAscii(s, tmp, 3, &ok);
        if (!ok) {
            markFatal(s);
            return;
        }
        if (count < 3) {
            const int size = fit(s.length + count);
            if (size < 0) {
                markInvalid(s);
                return;
            }
            const int remaining = capacity(size) - s.length;
            if (remaining < 3 && count <= remaining) {
                changeScheme(s, Ascii, false);
                CHKERR;
                for (int i = 0; i < count; ++i) {
                    appendAscii(s, tmp[i]);
                    CHKERR;
                }
                s.inputNext = n_;
                padInAscii(s, size);
                CHKERR;
                markComplete(s, size);
                return;
            }
        }
    }
    if (!hasNext(s)) {
        int size = fit(s.length);
        if (size < 0) {
            markInvalid(s);
            return;
        }
        if (!clean || capacity(size) - s.length > 0) {
            changeScheme(s, Ascii, true);
            CHKERR;
            size = fit(s.length);
            if (size < 0) {
                markInvalid(s);
                return;
            }
            padInAscii(s, size);
            CHKERR;
        }
        markComplete(s, size);
    }
}

void Encodation::chunkBase256(Stream& s)
{
    if (!hasNext(s))
        return;
    int c = peekNext(s);
    CHKERR;
    if (isFnc1(c)) {
        changeScheme(s, Ascii, true);  // as libdmtx: its status is not looked at
        advanceNext(s);
        CHKERR;
        appendAscii(s, kFnc1);
        return;
    }
    c = advanceNext(s);
    CHKERR;
    appendBase256(s, c);
}

void Encodation::appendBase256(Stream& s, int value)
{
    if (s.scheme != Base256) {
        markFatal(s);
        return;
    }
    append(s, randomize255(value, s.length + 1));
    CHKERR;
    ++s.chainValues;
    updateBase256Header(s, -1);
}

void Encodation::completeBase256(Stream& s)
{
    if (s.status == Complete || hasNext(s))
        return;
    const int headerBytes = s.chainWords - s.chainValues;
    if (headerBytes != 1 && headerBytes != 2) {
        // libdmtx stops the program here (an assertion): the FNC1 byte
        // last, after which this runs on the ASCII chain it switched to.
        aborts_ = true;
        markFatal(s);
        return;
    }
    if (headerBytes == 2) {
        // The chain may end exactly at the end of the symbol with a one-byte header.
        const int size = fit(s.length - 1);
        if (size >= 0 && capacity(size) - (s.length - 1) == 0) {
            updateBase256Header(s, size);
            CHKERR;
            markComplete(s, size);
            return;
        }
    }
    const int size = fit(s.length);
    if (size < 0) {
        markInvalid(s);
        return;
    }
    // as libdmtx: the statuses of these two calls are not looked at
    changeScheme(s, Ascii, false);
    padInAscii(s, size);
    markComplete(s, size);
}

void Encodation::updateBase256Header(Stream& s, int perfectSizeIdx)
{
    const int chainLength = s.chainValues;
    const int headerIndex = s.length - s.chainWords;
    int headerBytes = s.chainWords - s.chainValues;
    const bool perfect = perfectSizeIdx >= 0;
    if (perfect && capacity(perfectSizeIdx) != s.length - 1) {
        markFatal(s);
        return;
    }
    if (headerBytes == 0 && s.chainWords == 0) {
        append(s, 0);
        CHKERR;
        ++headerBytes;
    } else if (!perfect && headerBytes == 1 && chainLength > 249) {
        base256InsertFirst(s);
        CHKERR;
        ++headerBytes;
    } else if (perfect && headerBytes == 2) {
        base256RemoveFirst(s);
        CHKERR;
        --headerBytes;
    }
    if (!perfect && headerBytes == 1 && chainLength <= 249) {
        set(s, headerIndex, randomize255(chainLength, headerIndex + 1));
    } else if (!perfect && headerBytes == 2 && chainLength > 249) {
        set(s, headerIndex, randomize255(chainLength / 250 + 249, headerIndex + 1));
        CHKERR;
        set(s, headerIndex + 1, randomize255(chainLength % 250, headerIndex + 2));
    } else if (perfect && headerBytes == 1) {
        set(s, headerIndex, randomize255(0, headerIndex + 1));
    } else {
        markFatal(s);
    }
}

void Encodation::base256InsertFirst(Stream& s)
{
    const int chainStart = s.length - s.chainWords;
    if (s.length >= capacity_) {
        markFatal(s);
        return;
    }
    ++s.length;
    if (out_)
        for (int i = s.length - 1; i > chainStart; --i)
            out_[i] = randomize255(unrandomize255(out_[i - 1], i), i + 1);
    ++s.chainWords;
}

void Encodation::base256RemoveFirst(Stream& s)
{
    const int chainStart = s.length - s.chainWords;
    if (out_)
        for (int i = chainStart; i < s.length - 1; ++i)
            out_[i] = randomize255(unrandomize255(out_[i + 1], i + 2), i + 1);
    if (s.length <= 0) {
        markFatal(s);  // as libdmtx, after an out-of-range pop
        return;
    }
    --s.length;
    --s.chainWords;
}

#undef CHKERR

// ---------------------------------------------------------------------------
// AutoBest

enum State : int {
    AsciiFull,
    AsciiCompact0,
    AsciiCompact1,
    C40Offset0,
    C40Offset1,
    C40Offset2,
    TextOffset0,
    TextOffset1,
    TextOffset2,
    X12Offset0,
    X12Offset1,
    X12Offset2,
    EdifactOffset0,
    EdifactOffset1,
    EdifactOffset2,
    EdifactOffset3,
    Base256State,
    StateCount
};

constexpr int kStateScheme[StateCount] = {Ascii, Ascii, Ascii, C40,     C40,     C40,     Text,    Text,   Text,
                                          X12,   X12,   X12,   Edifact, Edifact, Edifact, Edifact, Base256};

// One chunk call of a history: the call made on the stream of `parent`.
struct Node {
    int parent;
    short scheme;
    short option;
};

class Search {
public:
    Search(Encodation& encodation, std::vector<Node>& nodes, int length)
        : e_(encodation), nodes_(nodes), n_(length)
    { }

    const Stream* run(int fnc1, const unsigned char* input);

private:
    int record(int parent, int scheme, int option)
    {
        nodes_.push_back({parent, short(scheme), short(option)});
        return int(nodes_.size()) - 1;
    }
    static bool validSwitch(int from, int to)
    {
        return !(kStateScheme[from] == kStateScheme[to] && from != to && from != AsciiFull && to != AsciiFull);
    }
    void advanceFromBest(int target);
    void advanceOffset(int target, bool start, int inputNext);
    void advanceEdifact(int target, bool start);

    Encodation& e_;
    std::vector<Node>& nodes_;
    int n_;
    Stream best_[StateCount];
    Stream next_[StateCount];

public:
    void reset()
    {
        for (int i = 0; i < StateCount; ++i)
            best_[i] = next_[i] = kFreshStream;
    }
};

// The target stream from the best of the streams that may switch to it.
// Comparing lengths is fair: all of them have encoded the same input.
void Search::advanceFromBest(int target)
{
    const int scheme = kStateScheme[target];
    const int option = target == AsciiFull ? Full : (target == AsciiCompact0 || target == AsciiCompact1) ? Compact
                                                                                                          : Normal;
    Stream& to = next_[target];
    // The bodies already run in this call, by the header they started from:
    // far from the end of the input a body's result does not depend on the
    // output length, so streams that reach it with the same header but for
    // the length share one run.
    struct Memo {
        Stream start;
        Stream end;
        bool shared;  // no size looked up: the result holds for any length
    };
    Memo memo[StateCount];
    int memos = 0;
    auto bodyOf = [&](const Stream& start, int bodyScheme) -> const Memo& {
        for (int m = 0; m < memos; ++m) {
            const Stream& a = memo[m].start;
            if (a.scheme == start.scheme && a.inputNext == start.inputNext && a.chainValues == start.chainValues
                && a.chainWords == start.chainWords && memo[m].end.sizeIdx == bodyScheme)
                return memo[m];
        }
        Memo& m = memo[memos++];
        m.start = start;
        m.end = start;
        const int lookups = e_.sizeLookups();
        e_.body(m.end, bodyScheme, option);
        m.shared = e_.sizeLookups() == lookups;
        m.end.sizeIdx = bodyScheme;  // the key's scheme; a body without a size lookup completes nothing
        return m;
    };
    // A memo's result for a stream of `length`, when it holds.
    auto sharedFor = [&](const Memo& m, int length) {
        return m.shared && length + m.end.length - m.start.length < e_.bufferCapacity() - 16;
    };
    for (int from = 0; from < StateCount; ++from) {
        const Stream& source = best_[from];
        if (source.status != Encoding || !validSwitch(from, target))
            continue;
        if (from != AsciiFull && e_.lengthFree(source)) {
            // Far from the end a chunk never shortens the output: a stream
            // already as long as the target's cannot be strictly shorter.
            if (source.length >= to.length)
                continue;
            // The switch of scheme worked out here (prepare() without its
            // calls); a stream it makes invalid cannot be taken.
            Stream start = source;
            int bodyScheme = scheme;
            if (start.scheme != X12 && bodyScheme == X12) {
                const int tail = e_.x12Tail(start.inputNext);
                if (tail == 2)
                    continue;
                if (tail == 1)
                    bodyScheme = Ascii;
            }
            if (start.scheme != bodyScheme) {
                if (start.scheme >= C40 && start.scheme <= X12) {
                    if (start.chainValues % 3 != 0)
                        continue;  // no unlatch off a triplet boundary
                    start.length += 1;
                } else if (start.scheme == Edifact) {
                    start.length += start.chainValues % 4 == 3 ? 0 : 1;  // the unlatch fills or opens a word
                }
                if (bodyScheme != Ascii)
                    start.length += 1;
                start.scheme = bodyScheme;
                start.chainValues = 0;
                start.chainWords = 0;
                if (bodyScheme == Base256) {
                    start.length += 1;  // the length header
                    start.chainWords = 1;
                }
            }
            const Memo& m = bodyOf(start, bodyScheme);
            if (sharedFor(m, start.length)) {
                if (m.end.status == Invalid || start.length + m.end.length - m.start.length >= to.length)
                    continue;
                // Taken: the body's header, moved to this stream's length.
                to = m.end;
                to.length = start.length + m.end.length - m.start.length;
                to.sizeIdx = -1;
                to.history = record(source.history, scheme, option);
                continue;
            }
        }
        Stream trial = source;
        int bodyScheme = scheme;
        if (e_.prepare(trial, bodyScheme)) {
            const Memo* m = e_.lengthFree(trial) ? &bodyOf(trial, bodyScheme) : nullptr;
            if (m && sharedFor(*m, trial.length)) {
                const int length = trial.length + m->end.length - m->start.length;
                trial = m->end;
                trial.length = length;
                trial.sizeIdx = -1;
            } else {
                e_.body(trial, bodyScheme, option);
            }
        }
        // As libdmtx: the ASCII full stream is taken whatever its result
        // (even invalid); the others only when valid and strictly shorter
        // than what the target holds, which may be left from the previous
        // input byte when the ASCII full stream is no longer encoding.
        if (from == AsciiFull || (trial.status != Invalid && trial.length < to.length)) {
            trial.history = record(source.history, scheme, option);
            to = trial;
        }
    }
}

// ASCII digit pairs and C40 / Text / X12 triplets: a stream in the middle of
// its chunk is carried over, one at its start offset is advanced from the
// best, any other is invalid.
void Search::advanceOffset(int target, bool start, int inputNext)
{
    const Stream& current = best_[target];
    if (inputNext < current.inputNext) {
        next_[target] = current;
    } else if (start) {
        advanceFromBest(target);
    } else {
        next_[target] = current;
        next_[target].status = Invalid;
    }
}

void Search::advanceEdifact(int target, bool start)
{
    if (start) {
        advanceFromBest(target);
        return;
    }
    const Stream& current = best_[target];
    next_[target] = current;
    if (current.status == Encoding && current.scheme == Edifact) {
        e_.chunk(next_[target], Edifact, Normal);
        next_[target].history = record(current.history, Edifact, Normal);
    } else {
        next_[target].status = Invalid;
    }
}

const Stream* Search::run(int fnc1, const unsigned char* input)
{
    int c40Count = 0;
    int textCount = 0;
    int x12Count = 0;
    for (int i = 0; i < n_; ++i) {
        advanceFromBest(AsciiFull);
        advanceOffset(AsciiCompact0, i % 2 == 0, i);
        advanceOffset(AsciiCompact1, i % 2 == 1, i);
        for (int k = 0; k < 3; ++k) {
            advanceOffset(C40Offset0 + k, c40Count % 3 == k, i);
        }
        for (int k = 0; k < 3; ++k)
            advanceOffset(TextOffset0 + k, textCount % 3 == k, i);
        for (int k = 0; k < 3; ++k)
            advanceOffset(X12Offset0 + k, x12Count % 3 == k, i);
        for (int k = 0; k < 4; ++k)
            advanceEdifact(EdifactOffset0 + k, i % 4 == k);
        advanceFromBest(Base256State);

        for (int s = 0; s < StateCount; ++s)
            if (best_[s].status != Complete)
                best_[s] = next_[s];

        // As libdmtx: a byte without C40 / Text / X12 values counts as one.
        Values values;
        c40Count += pushCtxValues(values, input[i], C40, fnc1) ? values.n : 1;
        values.n = 0;
        textCount += pushCtxValues(values, input[i], Text, fnc1) ? values.n : 1;
        values.n = 0;
        x12Count += pushCtxValues(values, input[i], X12, fnc1) ? values.n : 1;
    }
    const Stream* winner = nullptr;
    for (int s = 0; s < StateCount; ++s)
        if (best_[s].status == Complete && (!winner || best_[s].length < winner->length))
            winner = &best_[s];
    return winner;
}

// What the search sees of an input byte: whether it is the FNC1 byte, a
// digit, above 127, how many C40, Text and X12 values it takes (0 for none)
// and whether EDIFACT takes it. The search's lengths and statuses depend on
// nothing else of the input (the values themselves only reach the output),
// so two inputs whose bytes have the same classes, one for one, have the
// same winner.
int searchClassOf(int c, int fnc1)
{
    Values c40;
    Values text;
    Values x12;
    const int c40Count = pushCtxValues(c40, c, C40, fnc1) ? c40.n : 0;
    const int textCount = pushCtxValues(text, c, Text, fnc1) ? text.n : 0;
    const int x12Count = pushCtxValues(x12, c, X12, fnc1) ? x12.n : 0;
    return (fnc1 >= 0 && c == fnc1 ? 1 : 0) | (isDigit(c) ? 2 : 0) | (c > 127 ? 4 : 0) | (c40Count << 3)
        | (textCount << 6) | (x12Count << 9) | (c >= 32 && c <= 94 ? 1 << 12 : 0);
}

// The classes of the 256 byte values for one FNC1 byte, as small numbers.
struct ClassTable {
    int fnc1 = -2;
    unsigned char id[256];
    void build(int forFnc1)
    {
        fnc1 = forFnc1;
        int codes[256];
        int count = 0;
        for (int c = 0; c < 256; ++c) {
            const int code = searchClassOf(c, forFnc1);
            int k = 0;
            while (k < count && codes[k] != code)
                ++k;
            if (k == count)
                codes[count++] = code;
            id[c] = (unsigned char)k;
        }
    }
};

// The winners of recent searches by the classes of their input, the size
// request and the FNC1 byte: a base's values mostly share one layout (a
// reference of letters and digits, a fixed-width field), and the search
// then runs once for all of them. One table a thread, a slot a key.
constexpr int kCachedLength = 96;
constexpr int kCacheSlots = 256;

struct CachedSearch {
    int length = -1;  // -1: empty slot
    int sizeRequest = 0;
    int fnc1 = 0;
    bool refused = false;
    bool aborts = false;
    short sizeIdx = -1;
    short pathLength = 0;
    unsigned char classes[kCachedLength];
    unsigned char path[kCachedLength];  // scheme * 4 + option, oldest first
};

struct SearchCache {
    ClassTable table;
    std::vector<CachedSearch> slots = std::vector<CachedSearch>(kCacheSlots);
};

}  // namespace

int searchClass(int byte, int fnc1)
{
    return searchClassOf(byte, fnc1);
}

const SizeInfo& sizeInfo(int sizeIdx)
{
    return kSizes[std::size_t(sizeIdx)];
}

int encodeCodewords(const unsigned char* input, int length, int sizeRequest, int scheme, int fnc1,
                    std::vector<unsigned char>& out, bool* libdmtxAborts)
{
    if (libdmtxAborts)
        *libdmtxAborts = false;
    static const unsigned char empty = 0;
    if (length <= 0)
        input = &empty;  // libdmtx reads the first byte for FNC1 even then
    if (sizeRequest == kShapeAuto)
        sizeRequest = kSquareAuto;
    // A codeword holds two input bytes at most (a digit pair): a value of
    // more than twice the largest symbol's words fits no symbol, and the
    // search is not run on it (a long memo would cost time and memory for
    // nothing). libdmtx refuses it the same way, unless it stops on the
    // FNC1 byte last in Base256 or AutoBest, which is reported as such.
    if (length > 2 * kSizes[23].dataWords) {
        if (libdmtxAborts)
            *libdmtxAborts = fnc1 >= 0 && input[length - 1] == fnc1 && (scheme == kAutoBest || scheme == Base256);
        out.clear();
        return -1;
    }
    thread_local std::vector<unsigned char> buffer(kOutputCapacity);
    out.clear();
    Encodation encodation(input, length < 0 ? 0 : length, sizeRequest, fnc1);
    Stream result = kFreshStream;
    struct Report {
        const Encodation& e;
        bool* flag;
        ~Report()
        {
            if (flag)
                *flag = e.aborts();
        }
    } report{encodation, libdmtxAborts};
    if (scheme == kAutoBest) {
        const int n = length < 0 ? 0 : length;
        thread_local SearchCache cache;
        CachedSearch* slot = nullptr;
        unsigned char classes[kCachedLength];
        if (n <= kCachedLength) {
            if (cache.table.fnc1 != fnc1)
                cache.table.build(fnc1);
            std::uint32_t hash = 2166136261u ^ std::uint32_t(sizeRequest + 7) ^ (std::uint32_t(fnc1 + 1) << 12);
            for (int i = 0; i < n; ++i) {
                classes[i] = cache.table.id[input[i]];
                hash = (hash ^ classes[i]) * 16777619u;
            }
            hash ^= std::uint32_t(n) * 2654435761u;
            slot = &cache.slots[std::size_t((hash ^ (hash >> 16)) % kCacheSlots)];
            if (slot->length == n && slot->sizeRequest == sizeRequest && slot->fnc1 == fnc1
                && std::memcmp(slot->classes, classes, std::size_t(n)) == 0) {
                if (slot->refused) {
                    report.flag = nullptr;
                    if (libdmtxAborts)
                        *libdmtxAborts = slot->aborts;
                    out.clear();
                    return -1;
                }
                encodation.setOutput(buffer.data(), kOutputCapacity);
                for (int k = 0; k < slot->pathLength; ++k)
                    encodation.chunk(result, slot->path[k] >> 2, slot->path[k] & 3);
                result.sizeIdx = slot->sizeIdx;
                result.status = Complete;
                if (result.sizeIdx < 0 || result.length <= 0)
                    return -1;
                out.assign(buffer.begin(), buffer.begin() + result.length);
                return result.sizeIdx;
            }
        }
        thread_local std::vector<Node> nodes;
        nodes.clear();
        thread_local std::vector<signed char> x12Tails;
        x12Tails.resize(std::size_t(n) + 1);
        for (int i = 0; i <= n; ++i)
            x12Tails[std::size_t(i)] = (signed char)encodation.scanX12Tail(i);
        encodation.setX12Tails(x12Tails.data());
        Search search(encodation, nodes, n);
        search.reset();
        const Stream* winner = search.run(fnc1, input);
        if (!winner || encodation.aborts()) {
            if (slot) {
                slot->length = n;
                slot->sizeRequest = sizeRequest;
                slot->fnc1 = fnc1;
                slot->refused = true;
                slot->aborts = encodation.aborts();
                std::memcpy(slot->classes, classes, std::size_t(n));
            }
            out.clear();
            return -1;
        }
        // The winner's chunk calls, oldest first, replayed with output.
        thread_local std::vector<Node> path;
        path.clear();
        for (int h = winner->history; h >= 0; h = nodes[std::size_t(h)].parent)
            path.push_back(nodes[std::size_t(h)]);
        if (slot && path.size() > std::size_t(kCachedLength))
            slot = nullptr;
        if (slot) {
            slot->length = n;
            slot->sizeRequest = sizeRequest;
            slot->fnc1 = fnc1;
            slot->refused = false;
            slot->aborts = false;
            slot->sizeIdx = short(winner->sizeIdx);
            slot->pathLength = short(path.size());
            std::memcpy(slot->classes, classes, std::size_t(n));
            int k = 0;
            for (auto it = path.rbegin(); it != path.rend(); ++it)
                slot->path[k++] = (unsigned char)(it->scheme * 4 + it->option);
        }
        encodation.setOutput(buffer.data(), kOutputCapacity);
        for (auto it = path.rbegin(); it != path.rend(); ++it)
            encodation.chunk(result, it->scheme, it->option);
        result.sizeIdx = winner->sizeIdx;
        result.status = winner->status;
    } else if (scheme >= Ascii && scheme <= Base256) {
        encodation.setOutput(buffer.data(), kOutputCapacity);
        if (fnc1 >= 0 && int(input[0]) == fnc1) {
            encodation.advanceNext(result);
            encodation.appendAscii(result, kFnc1);
        }
        while (result.status == Encoding)
            encodation.chunk(result, scheme, Normal);
        if (encodation.aborts())
            result.status = Fatal;
        if (result.status != Complete || encodation.hasNext(result)) {
            out.clear();
            return -1;
        }
    } else {
        out.clear();
        return -1;  // AutoFast and unknown schemes
    }
    if (result.sizeIdx < 0 || result.length <= 0)
        return -1;
    out.assign(buffer.begin(), buffer.begin() + result.length);
    return result.sizeIdx;
}

}  // namespace codiflux::datamatrix
