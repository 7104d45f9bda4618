#pragma once

#include "vmsg/Frame.h"

#include <asio/ip/tcp.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vmsg {

// One framed TCP connection. Its socket is outside Asio's reactor: the owner's poller reports
// readiness, and the connection does its own system calls, one per read burst and one per write.
// A read takes what the socket holds (up to the buffer) and hands on each checked frame; a write
// goes out at once, and what the socket does not take waits until it is writable again. Reading can
// be paused, which leaves unread data to TCP's flow control.
class Connection : public std::enable_shared_from_this<Connection>
{
public:
    class Events
    {
    public:
        // Input has arrived: the receiver takes the complete frames with nextFrame() until it returns
        // null. It checks their values (and aborts on malformed ones); it may close or pause the
        // connection from here.
        virtual void framesArrived(Connection& connection) = 0;
        // The connection failed or the other end closed it; never after close().
        virtual void connectionLost(Connection& connection, int event) = 0;

    protected:
        ~Events() = default;
    };

    // Takes over socket's descriptor.
    Connection(asio::ip::tcp::socket socket, int handle, std::size_t maxMessage, Events* events);
    // fd: a connected or connecting TCP socket, now owned by the connection.
    Connection(int fd, int handle, std::size_t maxMessage, Events* events);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Queues one frame and writes what the socket takes. False when closed (also by a failing write),
    // when the frame exceeds the bound, or when the output queue would pass maxQueuedOutput().
    bool sendFrame(FrameType type, int kind, std::uint32_t requestId, const Message& values);
    // Closes without reporting to Events. Output already queued is still sent first: the socket stays
    // until then (hasSocket()), or until closeSocket(), which the owner calls when it gives up.
    void close();
    void closeSocket();
    // Closes and reports event (eventError for a protocol violation found by the owner).
    void abort(int event);
    void setReading(bool reading);

    // The next readBurst() takes the frames left in the buffer (behind one being handled) before it reads.
    void rereadBuffer() { m_buffered = m_buffered || m_inBegin < m_inEnd; }
    // The poller found the socket readable: the next readBurst() reads it. ended: the peer closed
    // (or the socket failed), so reading goes on until the read that says so.
    void setReadable(bool ended)
    {
        m_readable = true;
        m_ended = m_ended || ended;
    }
    // One read (one system call), or the frames a pause left in the buffer; hands on every complete
    // frame. True when there may be more to read at once.
    bool readBurst();
    // The same, but the read waits for input, up to waitSlice, in the socket itself: for an owner that
    // waits for this connection alone. The first call puts the socket in blocking mode with the slice
    // as its receive timeout (calls that must not wait say so themselves).
    bool readWaiting();
    static constexpr std::chrono::milliseconds waitSlice{5};
    // Writes queued output; for when the socket became writable.
    void writeMore();
    // The next complete frame, taken off the input; it stays valid until the receiver calls out of the
    // library or takes the next (or, held, until releaseInput()). The receiver may write into it. Null
    // when no whole frame is there, reading is paused or the connection is closed (a malformed header
    // closes it as an error).
    std::uint8_t* nextFrame()
    {
        if (!m_open || m_paused || outputHeld())
            return nullptr;
        std::uint8_t* frame = m_in.data() + m_inBegin;
        const DecodeResult r = scanFrame(frame, m_inEnd - m_inBegin, m_maxMessage);
        if (r.status == DecodeStatus::Complete) {
            m_inBegin += r.frameSize;
            return frame;
        }
        if (r.status == DecodeStatus::Malformed)
            abort(eventError);
        else
            m_needed = r.frameSize;
        return nullptr;
    }
    // For a receiver that hands out the frame just taken while it calls out: the frame stays where it
    // is until releaseInput(); reading meanwhile goes on in a copy of what follows. zeroEnd: the byte
    // behind the frame is zero meanwhile (a text ends there).
    void holdInput(bool zeroEnd)
    {
        m_holding = true;
        m_zeroed = zeroEnd;
        m_heldEnd = m_inBegin;
        if (zeroEnd) {
            m_heldByte = m_in[m_heldEnd];
            m_in[m_heldEnd] = 0;
        }
    }
    void releaseInput()
    {
        m_holding = false;
        if (!m_heldInput.empty())
            dropHeldInput(); // reading went on in a copy
        else if (m_zeroed)
            m_in[m_heldEnd] = m_heldByte;
        m_zeroed = false;
    }

    bool isOpen() const { return m_open; }
    bool isPaused() const { return m_paused; }
    // Not closed for good (a closed connection may still be sending its last output).
    bool hasSocket() const { return m_fd >= 0; }
    bool wantsRead() const { return m_open && !m_paused && !outputHeld() && (m_readable || m_buffered); }
    // Reading stops while more than bytes of output wait for the peer (0: never), and goes on once
    // it has taken enough: a peer that does not take its replies is not asked for more work.
    void setOutputHold(std::size_t bytes) { m_outputHold = bytes; }
    bool outputHeld() const { return m_outputHold != 0 && queuedBytes() > m_outputHold; }
    bool writePending() const { return m_outSent < m_out.size(); }
    int nativeHandle() const { return m_fd; }
    int handle() const { return m_handle; }
    std::size_t queuedBytes() const { return m_out.size() - m_outSent; }
    std::size_t maxQueuedOutput() const { return 16 * m_maxMessage; }

    // Owner's bookkeeping of the log-on handshake.
    bool incoming = false;
    bool loggedOn = false;
    bool announced = false; // the owner reported this connection (log-on or connect succeeded)
    int service = 0;
    bool inReadyList = false; // the owner's list of connections to read
    // Owner's bookkeeping of a server's deadlines: when input last came, and when the partial frame
    // that waits for the rest began (the epoch: none).
    std::chrono::steady_clock::time_point lastInput;
    std::chrono::steady_clock::time_point partialSince;
    // Bytes read and not yet taken as frames: a partial frame, unless reading is paused.
    std::size_t inputLeft() const { return m_inEnd - m_inBegin; }

private:
    bool read(int flags);
    void processFrames();
    // While held, reading goes on in a copy of the input from m_inBegin.
    void leaveHeldInput();
    void dropHeldInput();

    int m_fd;
    const int m_handle;
    const std::size_t m_maxMessage;
    Events* m_events;
    bool m_open = true;
    bool m_paused = false;
    bool m_blocking = false; // see readWaiting()
    bool m_readable = false; // the socket may hold unread data
    bool m_ended = false;    // the end of input (or an error) waits behind the data
    bool m_buffered = false; // bytes in the buffer wait to be taken before the next read
    std::vector<std::uint8_t> m_in;
    std::size_t m_inBegin = 0;
    std::size_t m_inEnd = 0;
    std::size_t m_needed = 0; // the length of the partial frame at m_inBegin, once known
    // While held: the held input (once reading went on in a copy), and the byte behind the held frame.
    bool m_holding = false;
    bool m_zeroed = false;
    std::size_t m_heldEnd = 0; // where the held frame ends
    std::uint8_t m_heldByte = 0;
    std::vector<std::uint8_t> m_heldInput;
    std::vector<std::uint8_t> m_out;
    std::size_t m_outSent = 0;
    std::size_t m_outputHold = 0;
};

} // namespace vmsg
