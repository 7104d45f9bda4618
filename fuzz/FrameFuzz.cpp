// The frame decoder on a byte stream that arrives in pieces: however the stream is split, the
// frames found, and where it turns malformed, are those of the whole stream at once. Every complete
// frame is decoded each way the library does (a Message, a record that copies its texts, a record
// read in place, the measure of checkValues), and the ways must agree; a frame they accept encodes
// back to its own bytes.

#include "fuzz/FuzzCheck.h"
#include "vmsg/Frame.h"
#include "vmsg/Record.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

using namespace vmsg;

// Small enough that the fuzzer meets the bound, large enough for real frames.
constexpr std::size_t maxMessage = 65536;

bool sameValues(const Message& a, const Message& b)
{
    if (a.kind != b.kind || a.requestId != b.requestId || !fuzz::sameBits(a.timeStamp, b.timeStamp) ||
        a.values.size() != b.values.size())
        return false;
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        const Value& x = a.values[i];
        const Value& y = b.values[i];
        if (x.index() != y.index())
            return false;
        if (const double* d = std::get_if<double>(&x)) {
            if (!fuzz::sameBits(*d, std::get<double>(y)))
                return false;
        } else if (!(x == y)) {
            return false;
        }
    }
    return true;
}

void checkFrame(const std::uint8_t* frame, std::size_t size, Message& reused)
{
    const std::uint8_t* body = frame + frameHeaderSize;
    const std::uint8_t* end = frame + size;
    FrameValues measured;
    const bool valid = checkValues(body, end, measured);

    const DecodeResult decoded = decodeFrame(frame, size, maxMessage, reused);
    FUZZ_CHECK((decoded.status == DecodeStatus::Complete) == valid);

    Inbox inbox;
    Record* queued = inbox.decode(frame);
    FUZZ_CHECK((queued != nullptr) == valid);
    RecordBuffer buffer;
    Record* kept = buffer.decode(frame);
    FUZZ_CHECK((kept != nullptr) == valid);

    // In place: the record writes zero bytes into its own copy of the frame, and a final text's zero
    // goes on the byte behind it, as the connection's read buffer has one.
    std::vector<std::uint8_t> copy(frame, end);
    copy.push_back(0xEE);
    std::unique_ptr<std::uint64_t[]> memory(new std::uint64_t[(inPlaceBytes + 7) / 8]);
    const Record::InPlace inPlace = Record::decodeInPlace(memory.get(), copy.data());
    // A string array hands the frame to the copying decoder before the rest is checked.
    if (!valid) {
        FUZZ_CHECK(inPlace == Record::InPlace::Malformed || inPlace == Record::InPlace::Copy);
        return;
    }
    FUZZ_CHECK(inPlace != Record::InPlace::Malformed);
    FUZZ_CHECK((inPlace == Record::InPlace::Copy) == (measured.arrays > 0));
    if (inPlace == Record::InPlace::TextAtEnd)
        copy[size] = 0;

    FUZZ_CHECK(measured.values == reused.values.size());
    // The measure of flow control counts the texts' sizes; the strings may hold more storage.
    Message fresh;
    FUZZ_CHECK(decodeFrame(frame, size, maxMessage, fresh).status == DecodeStatus::Complete);
    FUZZ_CHECK(measured.heldBytes <= fresh.valueBytes());
    FUZZ_CHECK(sameValues(fresh, reused));
    FUZZ_CHECK(queued->count == measured.values && queued->heldBytes == measured.heldBytes);
    FUZZ_CHECK(queued->bytes == Record::sizeFor(measured));

    Message fromQueued;
    queued->toMessage(0, fromQueued);
    FUZZ_CHECK(sameValues(fromQueued, reused));
    Message fromKept;
    kept->toMessage(0, fromKept);
    FUZZ_CHECK(sameValues(fromKept, reused));
    if (inPlace != Record::InPlace::Copy) {
        const Record* record = reinterpret_cast<const Record*>(memory.get());
        Message fromInPlace;
        record->toMessage(0, fromInPlace);
        FUZZ_CHECK(sameValues(fromInPlace, reused));
    }

    std::vector<std::uint8_t> encoded;
    FUZZ_CHECK(encodeFrame(FrameType(frame[3]), reused.kind, reused.requestId, reused, 0.0, maxMessage, encoded));
    FUZZ_CHECK(encoded.size() == size && std::memcmp(encoded.data(), frame, size) == 0);
}

struct Outcome
{
    std::vector<std::size_t> frameSizes;
    bool malformed = false;
    std::size_t pending = 0; // bytes of an incomplete frame left at the end
};

// Feeds data in pieces of the given sizes (the last piece takes the rest), taking each frame off the
// front of the buffer as soon as it is complete, as a connection does.
Outcome feed(const std::uint8_t* data, std::size_t size, fuzz::Choices* pieces, bool checkFrames)
{
    Outcome outcome;
    std::vector<std::uint8_t> buffer;
    Message reused;
    std::size_t at = 0;
    while (at < size) {
        const std::size_t n = pieces ? std::min(pieces->upTo(64), size - at) : size - at;
        buffer.insert(buffer.end(), data + at, data + at + n);
        at += n;
        for (;;) {
            const DecodeResult scanned = scanFrame(buffer.data(), buffer.size(), maxMessage);
            if (scanned.status == DecodeStatus::Malformed) {
                outcome.malformed = true;
                return outcome;
            }
            if (scanned.status == DecodeStatus::Incomplete) {
                FUZZ_CHECK(scanned.frameSize == 0 ? buffer.size() < 8 : scanned.frameSize > buffer.size());
                break;
            }
            FUZZ_CHECK(scanned.frameSize >= frameHeaderSize && scanned.frameSize <= buffer.size());
            if (checkFrames)
                checkFrame(buffer.data(), scanned.frameSize, reused);
            outcome.frameSizes.push_back(scanned.frameSize);
            buffer.erase(buffer.begin(), buffer.begin() + std::ptrdiff_t(scanned.frameSize));
        }
    }
    outcome.pending = buffer.size();
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Outcome whole = feed(data, size, nullptr, true);
    fuzz::Choices pieces(fuzz::hashBytes(data, size));
    const Outcome split = feed(data, size, &pieces, false);
    FUZZ_CHECK(split.frameSizes == whole.frameSizes);
    FUZZ_CHECK(split.malformed == whole.malformed);
    FUZZ_CHECK(split.pending == whole.pending);
    return 0;
}
