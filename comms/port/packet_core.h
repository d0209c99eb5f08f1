// Packet matching (platform-free): the state of one packet (PacketCore) and
// of the shared receive buffer of the packets watching one port
// (PacketManagerCore). Packets begin with a start string or with any data
// and end with an end string, after a number of bytes, or right after the
// start string; only one packet collects (holds the capture) at a time.
//
// The component layer (DataPacket, DataPacketManager) owns these objects
// and supplies the links: the packet's events and state (PacketClient) and
// the port side of the manager (ManagerLink: dispatch log, capture timer,
// errors).
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace qv {

enum PacketStartCond : uint8_t { scString = 0, scAnyData = 1 };
enum PacketEndCond : uint8_t { ecString = 0, ecPacketSize = 1 };
// Set of PacketEndCond: bit 0 ecString, bit 1 ecPacketSize.
using PacketEndSet = uint8_t;
inline constexpr PacketEndSet kEndString = 1 << ecString;
inline constexpr PacketEndSet kEndPacketSize = 1 << ecPacketSize;

enum PacketState : uint8_t { pkIdle = 0, pkWaiting = 1, pkCollecting = 2 };

// Dispatch-log subtypes of the packet records (type 18).
enum : uint8_t {
    plEnable = 242, plDisable = 243, plStringPacket = 244, plSizePacket = 245, plTimeout = 246, plStartStr = 247,
    plEndStr = 248, plIdle = 249, plWaiting = 250, plCollecting = 251,
};
inline constexpr uint8_t kPacketLogType = 18;

// Arming errors.
inline constexpr int32_t kErrStartStringEmpty = -5501;
inline constexpr int32_t kErrSizeBelowStartString = -5502;
inline constexpr int32_t kErrNoEndCondition = -5503;
inline constexpr int32_t kErrEndStringEmpty = -5504;
inline constexpr int32_t kErrPacketSizeZero = -5505;

class PacketManagerCore;

// The packet component behind a PacketCore.
class PacketClient {
public:
    virtual bool PacketDesigning() const = 0;
    virtual bool PacketLoading() const = 0;
    // OnPacket, then OnStringPacket; a handler's exception is reported
    // there and does not come back.
    virtual void PacketFound(const uint8_t* data, int32_t length) = 0;
    // OnTimeout, likewise.
    virtual void PacketTimedOut() = 0;
    virtual std::string PacketLogLabel() const = 0;

protected:
    ~PacketClient() = default;
};

// The port side of a manager.
class ManagerLink {
public:
    virtual bool LogOn() = 0;
    virtual void Log(uint8_t subtype, const void* data, int32_t length) = 0;
    // Starts the capture timer (its result is not looked at).
    virtual void StartCaptureTimer(int32_t ticks) = 0;
    // Stops it; a failure raises.
    virtual void StopCaptureTimer() = 0;
    // Raises the arming error of a code (-5501 .. -5505).
    [[noreturn]] virtual void RaisePacketError(int32_t code) = 0;
    // An arming error met while re-arming a packet that nobody asked to
    // arm (another packet took the capture, or an event ended): the packet
    // is disabled and the error reported here instead of ending the pass.
    virtual void ReportArmingError(std::exception_ptr error) = 0;

protected:
    ~ManagerLink() = default;
};

struct PacketSettings {
    PacketStartCond StartCond = scString;
    PacketEndSet EndCond = 0;
    std::string StartString;
    std::string EndString;
    int32_t PacketSize = 0;
    int32_t TimeOut = 2184;  // ticks of 55 ms; 0 = no limit
    bool AutoEnable = true;
    bool IgnoreCase = true;
    bool IncludeStrings = true;
};

// Turns a start or end string into a pattern and its mask: letters folded
// to capitals when ignoreCase; "\" makes the next character ordinary (and
// is dropped, also at the end); an unescaped "?" is a wildcard ('1' in the
// mask).
void BuildPattern(const std::string& text, bool ignoreCase, std::string& pattern, std::string& mask);

class PacketCore {
public:
    explicit PacketCore(PacketClient& client) : client_(client) {}

    PacketSettings Settings;

    // State (read by the component and by tests).
    PacketManagerCore* Manager() const { return manager_; }
    bool Enabled() const { return enabled_; }
    PacketState MatchState() const { return matchState_; }
    int32_t PacketStart() const { return packetStart_; }
    int32_t PacketLength() const { return packetLength_; }
    int32_t StartMatchPos() const { return startMatchPos_; }
    int32_t EndMatchPos() const { return endMatchPos_; }
    int32_t SizeTarget() const { return sizeTarget_; }
    const std::string& StartPattern() const { return startPattern_; }
    const std::string& StartMask() const { return startMask_; }
    const std::string& EndPattern() const { return endPattern_; }
    const std::string& EndMask() const { return endMask_; }
    bool AnyDataPending() const { return anyDataPending_; }
    bool EnablePending() const { return enablePending_; }
    bool OwnsCapture() const { return ownsCapture_; }

    // Enabled := value: arms or disarms; an arming error leaves Enabled
    // as it was.
    void SetEnabled(bool value);
    // Arms now if arming was put off (after loading).
    void ArmIfPending();

private:
    friend class PacketManagerCore;
    void Arm();
    void Disarm();
    void SetMatchState(PacketState state);
    bool MatchesAt(const std::string& pattern, const std::string& mask, int32_t position, uint8_t b) const;

    PacketClient& client_;
    PacketManagerCore* manager_ = nullptr;
    bool enabled_ = false;
    PacketState matchState_ = pkIdle;
    int32_t packetStart_ = -1;
    int32_t packetLength_ = 0;
    int32_t startMatchPos_ = 1;
    int32_t endMatchPos_ = 1;
    int32_t sizeTarget_ = 0;
    std::string startPattern_, startMask_, endPattern_, endMask_;
    bool anyDataPending_ = false;
    bool enablePending_ = false;
    bool ownsCapture_ = false;
    bool armedIgnoreCase_ = true;  // the case rule the patterns were built with
};

class PacketManagerCore {
public:
    explicit PacketManagerCore(ManagerLink& link) : link_(link) {}
    ~PacketManagerCore();

    const std::vector<PacketCore*>& Packets() const { return packets_; }
    // Attaches a packet; one that is enabled is armed (on an open port).
    void AddPacket(PacketCore& p);
    // Detaches a packet. It is out of every pass before anything can be
    // delivered; the bytes it had collected are offered to the others.
    void RemovePacket(PacketCore& p);

    bool Active() const { return active_; }
    // Only the flag and the buffer: the component installs the handler.
    void SetActive(bool value);
    // The port opens (arms every enabled packet) or closes (disarms all).
    void PortOpening();
    void PortClosing();

    // Received bytes: Reserve room, fill it, Commit what arrived (a
    // failure commits nothing), then Process from the old length.
    uint8_t* Reserve(int32_t count);
    void Commit(int32_t count);
    // Asks for a pass from the index and runs the passes asked for, one
    // after another (a delivery ends its pass and asks for one from 0).
    // Inside an event, or while passes already run further up the stack,
    // the pass is only asked for; it runs when they come back.
    void Process(int32_t from);
    // Appends and processes (the three steps above).
    void Receive(const uint8_t* data, int32_t count);
    // The capture timer expired.
    void CaptureTimerExpired();

    int32_t BufferLength() const { return length_; }
    int32_t BufferCapacity() const { return capacity_; }
    const uint8_t* Buffer() const { return buffer_.get(); }
    PacketCore* CapturePacket() const { return capture_; }
    bool InEvent() const { return inEvent_; }

private:
    friend class PacketCore;
    enum class How { ByEndString, BySize };

    // Arms a packet again; one that cannot be armed is disabled and its
    // error reported.
    void Rearm(PacketCore& p);
    void RunPasses();
    void Pass(int32_t from);
    // True when it delivered (which ends the pass).
    bool Scan(PacketCore& p, int32_t from);
    void Deliver(PacketCore& p, How how);
    void PacketTimeout(PacketCore& p);
    void SetInEvent(bool value);
    void StartCapture(PacketCore& p);
    void EndCapture(PacketCore& p);
    void AskPass(int32_t from);
    void FreeBuffer();
    void RemoveFront(int32_t count);
    bool EndMatches(const PacketCore& p, int32_t i, int32_t collectStart) const;
    bool Contains(const PacketCore* p) const;
    void Log(uint8_t subtype, const void* data, int32_t length);
    void Log(uint8_t subtype, const PacketCore& p, const std::string& text);

    ManagerLink& link_;
    std::vector<PacketCore*> packets_;
    bool active_ = false;
    std::unique_ptr<uint8_t[]> buffer_;
    int32_t length_ = 0;
    int32_t capacity_ = 0;
    // Blocks the buffer grew out of during an event: the bytes handed to
    // the event's handlers stay readable until it ends.
    std::vector<std::unique_ptr<uint8_t[]>> retired_;
    PacketCore* capture_ = nullptr;
    // Counts the times the buffer was emptied at once (not by removing a
    // packet): a delivery removes its bytes only from the buffer it was
    // found in.
    uint32_t discards_ = 0;
    bool inEvent_ = false;
    bool passing_ = false;  // RunPasses is on the stack
    bool dataPending_ = false;
    int32_t pendingStart_ = 0;
    // The packet whose events run; cleared when it is detached meanwhile.
    PacketCore* delivering_ = nullptr;
};

}  // namespace qv
