// How the editor reads a program file's bytes: any bytes are either refused with a message naming
// the file, or read into text that the editor can hold and that writes back byte for byte.

#include "fuzz/FuzzCheck.h"
#include "editor/ProgramText.h"

#include <QByteArray>
#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const ProgramText::DecodeResult result = ProgramText::decode(bytes, QStringLiteral("fuzzed.kelm"));
    if (!result.decoded) {
        FUZZ_CHECK(result.error.contains(QLatin1String("fuzzed.kelm")));
        return 0;
    }
    const ProgramText::Decoded& decoded = *result.decoded;
    FUZZ_CHECK(decoded.lineEnds.size() == std::size_t(decoded.text.count(QLatin1Char('\n'))));
    FUZZ_CHECK(!decoded.text.contains(QLatin1Char('\r')) && !decoded.text.contains(QChar(0)));
    FUZZ_CHECK(ProgramText::plainLineBreaks(decoded.text) == decoded.text);

    int unencodable = -1;
    const std::optional<QByteArray> written =
        ProgramText::encode(decoded.text, decoded.format, decoded.lineEnds, &unencodable);
    FUZZ_CHECK(written.has_value());
    FUZZ_CHECK(*written == bytes);
    return 0;
}
