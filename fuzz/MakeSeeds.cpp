// Writes the seed frames of the frame and message corpora, one file each, made by the library's own
// encoder: every kind of frame the system exchanges, in the layouts the two sides use.
// Usage: fuzz_make_seeds CORPUS_DIR (writes CORPUS_DIR/frame and CORPUS_DIR/message).

#include "vmsg/Frame.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace vmsg;
using Bytes = std::vector<std::uint8_t>;

struct Seed
{
    std::string name;
    Bytes frame;
    std::string ops; // operations of the message target that read the frame as its reader does
};

// Values from a template: 'i', 'r', 's', 'a', 'v', each taking the next argument of its kind.
struct Builder
{
    Message message;
    Builder& i(int v)
    {
        message.push(v);
        return *this;
    }
    Builder& r(double v)
    {
        message.push(v);
        return *this;
    }
    Builder& s(std::string v)
    {
        message.push(std::move(v));
        return *this;
    }
    Builder& a(std::vector<std::string> v)
    {
        message.push(std::move(v));
        return *this;
    }
    Builder& v()
    {
        message.pushDivider();
        return *this;
    }
};

Bytes encode(FrameType type, int kind, std::uint32_t requestId, const Message& message, double stamp = 12.5)
{
    Bytes out;
    if (!encodeFrame(type, kind, requestId, message, stamp, defaultMaxMessage, out)) {
        std::fprintf(stderr, "frame of kind %d does not encode\n", kind);
        std::exit(1);
    }
    return out;
}

void write(const std::filesystem::path& path, const Bytes& bytes, const std::string& tail = {})
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out << tail;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path root(argv[1]);
    std::filesystem::create_directories(root / "frame");
    std::filesystem::create_directories(root / "message");

    // Message target operations, as digits: 0 int, 1 real, 2 text, 3 array, 4 divider, 5 template (a digit for
    // its length, then its letters), 6 the record turned into a Message.
    const std::vector<std::string> statusNames = {"FEED", "PUMP", "VALVE", "TANK", "PIDC"};
    std::vector<Seed> seeds = {
        {"logon_kernel", encode(FrameType::LogOn, 65536, 0, Builder().i(1).i(0).message), "52ii00"},
        {"logon_client", encode(FrameType::LogOn, 1, 0, Message()), "50"},
        {"logon_secret", encode(FrameType::LogOn, 1, 0, Builder().s("0123456789abcdef0123456789abcdef").message), "2"},
        {"accept", encode(FrameType::Accept, 65536, 0, Message()), "50"},
        {"status_request", encode(FrameType::Data, 32, 1, Message()), "0"},
        {"status_short", encode(FrameType::Reply, 32, 1, Builder().r(3725.9).v().i(1).v().message), "54rviv1040"},
        {"status_long", encode(FrameType::Data, 32, 0, Builder().i(0).v().s("model").v().r(1.7e9).v().i(2).v().message),
         "58ivsvrviv02106"},
        {"block_types", encode(FrameType::Data, 10, 2, Builder().s("$top").i(-1).message), "52si20"},
        {"block_types_reply", encode(FrameType::Reply, 10, 2, Builder().a(statusNames).message), "51a3"},
        {"block_query",
         encode(FrameType::Data, 64, 3,
                Builder().s("$top<x>@name(*)@type(TANK)@tagname(*)@tagvalue(*)@B_n_lst").i(-1).message),
         "20"},
        {"tag_query", encode(FrameType::Data, 64, 4, Builder().s("T101:$top@name(*)@vr_tp(dble)@B_tags").i(-1).message),
         "20"},
        {"names_reply", encode(FrameType::Reply, 64, 3, Builder().a({"F101", "P101", "FI101", "T101"}).message), "36"},
        {"no_match_reply", encode(FrameType::Reply, 64, 4, Builder().a({"no match"}).message), "3"},
        {"inspect",
         encode(FrameType::Data, 64, 5,
                Builder().s("T101:LEVEL@V_compat").i(1).v().s("T101:LEVEL@V_type").v().s("T101:LEVEL@V_array").message),
         "56sivsvs20242"},
        {"inspect_reply", encode(FrameType::Reply, 64, 5, Builder().i(0).i(14).a({"S1.f", "S1.t", "S1.x"}).message),
         "53iia003"},
        {"error_reply", encode(FrameType::Reply, 50, 6, Builder().i(-4).s("no such variable").message), "02"},
        {"run", encode(FrameType::Data, 40, 7, Message()), "50"},
        {"freeze", encode(FrameType::Data, 41, 0, Message()), ""},
        {"load", encode(FrameType::Data, 42, 8, Message()), ""},
        {"unload", encode(FrameType::Data, 43, 9, Message()), ""},
        {"read", encode(FrameType::Data, 50, 10, Builder().s("T101:LEVEL").v().message), "24"},
        {"read_reply", encode(FrameType::Reply, 50, 10, Builder().i(0).i(1).r(2.75).message), "001"},
        {"read_reply_array", encode(FrameType::Reply, 50, 11, Builder().i(0).i(10).a({"A", "B"}).message), "003"},
        {"read_reply_text", encode(FrameType::Reply, 50, 12, Builder().i(0).i(9).s("text").message), "002"},
        {"write", encode(FrameType::Data, 51, 0, Builder().s("LC101:SP").v().r(1.5).v().message), "2141"},
        {"diagnostic",
         encode(FrameType::Data, 201, 0,
                Builder().s("/tmp/tank.kelm").i(3).s("Closing bracket expected but not found.").message),
         "202"},
        {"printed", encode(FrameType::Data, 205, 0, Builder().s("T101 level 2.5").message), "2"},
        {"program_name", encode(FrameType::Data, 505, 0, Builder().s("tank.kelm").message), "2"},
        {"listing_line", encode(FrameType::Data, 506, 0, Builder().i(4).s("after (5) {T101:LEVEL} = 2").message), "02"},
        {"listing_start", encode(FrameType::Data, 507, 0, Message()), ""},
        {"executing", encode(FrameType::Data, 508, 0, Builder().i(4).message), "0"},
        {"highlight", encode(FrameType::Data, 509, 0, Builder().i(7).message), "0"},
        {"stamped", encode(FrameType::Data, 510, 0, Builder().i(4).i(3).message), "00"},
        {"line_done", encode(FrameType::Data, 511, 0, Message()), ""},
        {"started", encode(FrameType::Data, 512, 0, Message()), ""},
        {"finished", encode(FrameType::Data, 513, 0, Message()), ""},
        {"stop_request", encode(FrameType::Data, 514, 0, Message()), ""},
        {"open_monitor", encode(FrameType::Data, 515, 0, Message()), "50"},
        {"odd_texts",
         encode(FrameType::Data, 506, 0,
                Builder().s(std::string("a\0b", 3)).a({"", std::string(20, 'x')}).s("").message),
         "23226"},
    };
    Bytes stream; // a client's whole conversation, as one read may deliver it
    for (const Seed& seed : seeds) {
        write(root / "frame" / seed.name, seed.frame);
        write(root / "message" / seed.name, seed.frame, seed.ops);
        if (seed.name == "logon_client" || seed.name.rfind("status", 0) == 0 || seed.name == "listing_line" ||
            seed.name == "open_monitor")
            stream.insert(stream.end(), seed.frame.begin(), seed.frame.end());
    }
    write(root / "frame" / "stream", stream);
    std::printf("%zu seeds written\n", seeds.size() + 1);
    return 0;
}
