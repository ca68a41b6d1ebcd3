#include <ze/sim/board.h>
#include <ze/sim/vcom_model.h>

#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>

namespace ze {
namespace sim {
namespace {

constexpr std::uint64_t kUsPerSecond = 1000000;
constexpr std::uint64_t kNsPerUs = 1000;

std::uint64_t monotonicUs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * kUsPerSecond +
           static_cast<std::uint64_t>(now.tv_nsec) / kNsPerUs;
}

std::mutex gDefaultClockMutex;

Clock& defaultClock()
{
    static Clock clock;
    return clock;
}

Clock copyOfDefaultClock()
{
    std::lock_guard<std::mutex> lock(gDefaultClockMutex);
    return defaultClock();
}

std::string addressText(unsigned int bus, std::uint8_t addr8)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%02X on bus %u", addr8, bus);
    return text;
}

}  // namespace

void setDefaultClock(Clock clock)
{
    std::lock_guard<std::mutex> lock(gDefaultClockMutex);
    defaultClock() = std::move(clock);
}

std::uint64_t defaultClockUs()
{
    std::lock_guard<std::mutex> lock(gDefaultClockMutex);
    return defaultClock() ? defaultClock()() : monotonicUs();
}

I2cDevice::~I2cDevice() = default;
VcomModel::~VcomModel() = default;

ModelFields& ModelFields::add(const char* key, const std::string& value)
{
    if (!text_.empty()) text_ += ' ';
    text_ += key;
    text_ += '=';
    text_ += value;
    return *this;
}

ModelFields& ModelFields::hex(const char* key, unsigned int value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return add(key, text);
}

ModelFields& ModelFields::count(const char* key, unsigned int value)
{
    return add(key, std::to_string(value));
}

ModelFields& ModelFields::flag(const char* key, bool value)
{
    return add(key, value ? "1" : "0");
}

std::uint64_t I2cDevice::nowUs() const
{
    return link_ != nullptr ? link_->nowUs() : defaultClockUs();
}

const char* I2cDevice::busyReason() const
{
    return busyReason_ != nullptr && nowUs() < busyUntilUs_ ? busyReason_ : nullptr;
}

void I2cDevice::startBusy(std::uint64_t durationUs, const char* reason)
{
    busyUntilUs_ = nowUs() + durationUs;
    busyReason_ = reason;
}

int I2cDevice::refuse(int status, const char* reason) const
{
    if (link_ != nullptr) link_->refused(status, reason);
    return status;
}

std::string formatRefusal(const Refusal& r)
{
    char text[96];
    std::snprintf(text, sizeof text,
                  "%lluus bus=%u dev=0x%02X status=%d: ", static_cast<unsigned long long>(r.timeUs),
                  r.bus, r.devAddr, r.status);
    return text + std::string(r.reason);
}

struct Board::Impl {
    using Listener = std::function<void(unsigned int, unsigned int)>;

    // One attached device; its link to the board knows where it sits.
    struct Slot final : BoardLink {
        Slot(Impl& owner, unsigned int onBus, std::uint8_t at, std::shared_ptr<I2cDevice> part)
            : board(owner), bus(onBus), addr8(at), device(std::move(part))
        {
            device->connect(this);
        }
        ~Slot() { device->connect(nullptr); }
        std::uint64_t nowUs() override { return board.now(); }
        void refused(int status, const char* reason) override
        {
            board.refused(bus, addr8, status, reason);
        }

        Impl& board;
        unsigned int bus;
        std::uint8_t addr8;
        std::shared_ptr<I2cDevice> device;
        std::optional<unsigned int> switchGpio;
        bool answering = true;
    };
    struct CountedFault {
        Call call;
        unsigned int remaining;
        int status;
    };
    struct MatchingFault {
        std::uint8_t devAddr;
        std::optional<std::uint8_t> subAddr;
        int status;
    };

    mutable std::mutex mutex;
    // Devices by bus, then by 7-bit address.
    std::map<unsigned int, std::map<std::uint8_t, std::unique_ptr<Slot>>> buses;
    std::map<unsigned int, unsigned int> gpios;
    // Replaced, never changed, so that a GPIO call takes it without copying.
    std::shared_ptr<const std::vector<Listener>> listeners =
        std::make_shared<const std::vector<Listener>>();
    int freerun = 0;
    std::vector<CountedFault> counted;
    std::vector<MatchingFault> matching;
    // A write phase with its sub-address in front, reused from transfer to transfer.
    std::vector<std::uint8_t> phase;

    std::mutex clockMutex;
    Clock clock = copyOfDefaultClock();

    std::atomic<unsigned int> refusalCount{0};
    std::atomic<bool> reporting{false};
    mutable std::mutex refusalMutex;
    std::vector<Refusal> refusals;

    std::uint64_t now()
    {
        std::lock_guard<std::mutex> lock(clockMutex);
        return clock ? clock() : monotonicUs();
    }

    int refused(unsigned int bus, std::uint8_t addr8, int status, const char* reason)
    {
        ++refusalCount;
        if (!reporting) return status;
        const Refusal refusal{now(), bus, static_cast<std::uint8_t>(addr8 & ~1u), status, reason};
        std::lock_guard<std::mutex> lock(refusalMutex);
        refusals.push_back(refusal);
        return status;
    }

    // Advances every counted fault of this kind; the status of the first that
    // comes due, if any.
    std::optional<int> countedFault(Call call)
    {
        std::optional<int> status;
        for (auto it = counted.begin(); it != counted.end();) {
            if (it->call == call && --it->remaining == 0) {
                if (!status) status = it->status;
                it = counted.erase(it);
            } else {
                ++it;
            }
        }
        return status;
    }

    std::optional<int> injectedFault(Call call, const I2cTarget* target)
    {
        std::optional<int> status = countedFault(call);
        if (status || target == nullptr) return status;
        for (const MatchingFault& f : matching) {
            if (f.devAddr != target->devAddr) continue;
            if (f.subAddr && (target->subAddrLen == 0 || target->subAddr != *f.subAddr)) continue;
            return f.status;
        }
        return std::nullopt;
    }

    Slot* find(unsigned int bus, std::uint8_t addr8) const
    {
        const auto b = buses.find(bus);
        if (b == buses.end()) return nullptr;
        const auto d = b->second.find(static_cast<std::uint8_t>(addr8 >> 1));
        return d == b->second.end() ? nullptr : d->second.get();
    }

    // The device that takes a phase at this 8-bit address now, or the status
    // of the failure.
    int route(unsigned int bus, std::uint8_t addr8, Slot** slot)
    {
        if (buses.count(bus) == 0) return refused(bus, addr8, kNoSuchBus, "no such bus");
        *slot = find(bus, addr8);
        if (*slot == nullptr) return refused(bus, addr8, kAddressNack, "no device answers");
        if (!(*slot)->answering) return kAddressNack;
        if ((*slot)->switchGpio && gpios.at(*(*slot)->switchGpio) == 0) {
            return refused(bus, addr8, kAddressNack, "cut off by the open I2C switch");
        }
        if (const char* busy = (*slot)->device->busyReason()) {
            return refused(bus, addr8, kAddressNack, busy);
        }
        return 0;
    }

    int write(unsigned int bus, const I2cTarget& target, const unsigned char* data,
              unsigned int length)
    {
        Slot* slot = nullptr;
        if (const int status = route(bus, target.devAddr, &slot)) return status;
        if (target.subAddrLen == 0) return slot->device->write(data, length);
        phase.assign(&target.subAddr, &target.subAddr + 1);
        phase.insert(phase.end(), data, data + length);
        return slot->device->write(phase.data(), phase.size());
    }

    int read(unsigned int bus, const I2cTarget& target, unsigned int length, unsigned char* buffer)
    {
        Slot* slot = nullptr;
        if (const int status = route(bus, target.devAddr, &slot)) return status;
        if (target.subAddrLen == 1) {
            if (const int status = slot->device->write(&target.subAddr, 1)) return status;
        }
        return slot->device->read(buffer, length);
    }
};

Board::Board() : SocBackend(false), impl_(std::make_unique<Impl>()) {}
Board::~Board() = default;

void Board::useClock(Clock clock)
{
    setClock(clock);
    std::lock_guard<std::mutex> lock(impl_->clockMutex);
    impl_->clock = std::move(clock);
}

void Board::addBus(unsigned int bus)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->buses[bus];
}

void Board::attach(unsigned int bus, std::uint8_t addr8, std::shared_ptr<I2cDevice> device)
{
    if (!device) throw std::invalid_argument("sim board: no device to attach");
    std::lock_guard<std::mutex> lock(impl_->mutex);
    const auto b = impl_->buses.find(bus);
    if (b == impl_->buses.end()) {
        throw std::invalid_argument("sim board: no bus " + std::to_string(bus));
    }
    const auto key = static_cast<std::uint8_t>(addr8 >> 1);
    if (b->second.count(key) != 0) {
        throw std::invalid_argument("sim board: address " + addressText(bus, addr8) + " is taken");
    }
    b->second[key] = std::make_unique<Impl::Slot>(*impl_, bus, addr8, std::move(device));
}

void Board::detach(unsigned int bus, std::uint8_t addr8)
{
    std::unique_ptr<Impl::Slot> detached;  // released after unlocking
    std::lock_guard<std::mutex> lock(impl_->mutex);
    const auto b = impl_->buses.find(bus);
    if (b == impl_->buses.end()) return;
    const auto d = b->second.find(static_cast<std::uint8_t>(addr8 >> 1));
    if (d == b->second.end()) return;
    detached = std::move(d->second);
    b->second.erase(d);
}

void Board::putBehindSwitch(unsigned int bus, std::uint8_t addr8, unsigned int gpio)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Impl::Slot* slot = impl_->find(bus, addr8);
    if (slot == nullptr) {
        throw std::invalid_argument("sim board: no device at " + addressText(bus, addr8));
    }
    if (impl_->gpios.count(gpio) == 0) {
        throw std::invalid_argument("sim board: no GPIO line " + std::to_string(gpio));
    }
    slot->switchGpio = gpio;
}

void Board::setAnswering(unsigned int bus, std::uint8_t addr8, bool answering)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (Impl::Slot* slot = impl_->find(bus, addr8)) slot->answering = answering;
}

void Board::addGpio(unsigned int gpio, unsigned int initialLevel)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->gpios[gpio] = initialLevel;
}

std::optional<unsigned int> Board::gpioLevel(unsigned int gpio) const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    const auto it = impl_->gpios.find(gpio);
    if (it == impl_->gpios.end()) return std::nullopt;
    return it->second;
}

void Board::onGpioChange(std::function<void(unsigned int gpio, unsigned int level)> listener)
{
    if (!listener) return;
    std::lock_guard<std::mutex> lock(impl_->mutex);
    auto listeners = std::make_shared<std::vector<Impl::Listener>>(*impl_->listeners);
    listeners->push_back(std::move(listener));
    impl_->listeners = std::move(listeners);
}

int Board::freerunVfreq() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->freerun;
}

void Board::setFreerunVfreq(int setting)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->freerun = setting;
}

void Board::powerCycle()
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::set<I2cDevice*> done;
    for (auto& bus : impl_->buses) {
        for (auto& slot : bus.second) {
            I2cDevice* device = slot.second->device.get();
            if (!done.insert(device).second) continue;
            device->powerCycle();
            device->endBusy();
        }
    }
}

void Board::failNth(Call call, unsigned int n, int status)
{
    if (n == 0) throw std::invalid_argument("sim board: failNth counts from 1");
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->counted.push_back({call, n, status});
}

void Board::failMatching(std::uint8_t devAddr, std::optional<std::uint8_t> subAddr, int status)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->matching.push_back({devAddr, subAddr, status});
}

void Board::clearFaults()
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->counted.clear();
    impl_->matching.clear();
}

void Board::reportRefusals(bool on)
{
    impl_->reporting = on;
}

unsigned int Board::refusalCount() const
{
    return impl_->refusalCount;
}

std::vector<Refusal> Board::refusals() const
{
    std::lock_guard<std::mutex> lock(impl_->refusalMutex);
    return impl_->refusals;
}

void Board::clearRefusals()
{
    std::lock_guard<std::mutex> lock(impl_->refusalMutex);
    impl_->refusals.clear();
    impl_->refusalCount = 0;
}

std::vector<unsigned int> Board::buses() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::vector<unsigned int> out;
    for (const auto& bus : impl_->buses) out.push_back(bus.first);
    return out;
}

int Board::i2cOpen(unsigned int bus, unsigned int mode)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    TraceEntry entry = recorder_.begin(Call::I2COpen, bus);
    entry.value = static_cast<int>(mode);
    if (const std::optional<int> fault = impl_->injectedFault(Call::I2COpen, nullptr)) {
        return recorder_.finish(entry, *fault);
    }
    return recorder_.finish(entry, impl_->buses.count(bus) != 0 ? 0 : kNoSuchBus);
}

int Board::i2cWrite(unsigned int bus, const I2cTarget& target, const unsigned char* data,
                    unsigned int length)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    TraceEntry entry = recorder_.begin(Call::I2CWrite, bus, target);
    if (data == nullptr && length > 0) return recorder_.finish(entry, -EINVAL);
    if (length > 0 && recorder_.enabled()) entry.data.assign(data, data + length);
    if (const std::optional<int> fault = impl_->injectedFault(Call::I2CWrite, &target)) {
        return recorder_.finish(entry, *fault);
    }
    if (target.subAddrLen > 1) return recorder_.finish(entry, -EINVAL);
    return recorder_.finish(entry, impl_->write(bus, target, data, length));
}

int Board::i2cRead(unsigned int bus, const I2cTarget& target, unsigned int length,
                   unsigned char* buffer)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    TraceEntry entry = recorder_.begin(Call::I2CRead, bus, target);
    if (const std::optional<int> fault = impl_->injectedFault(Call::I2CRead, &target)) {
        return recorder_.finish(entry, *fault);
    }
    if (target.subAddrLen > 1 || (buffer == nullptr && length > 0)) {
        return recorder_.finish(entry, -EINVAL);
    }
    const int status = impl_->read(bus, target, length, buffer);
    if (status == 0 && length > 0 && recorder_.enabled())
        entry.data.assign(buffer, buffer + length);
    return recorder_.finish(entry, status);
}

int Board::gpioSetValue(unsigned int gpio, unsigned int level)
{
    std::shared_ptr<const std::vector<Impl::Listener>> listeners;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        TraceEntry entry = recorder_.begin(Call::GpioSetValue, gpio);
        entry.value = static_cast<int>(level);
        if (const std::optional<int> fault = impl_->injectedFault(Call::GpioSetValue, nullptr)) {
            return recorder_.finish(entry, *fault);
        }
        const auto it = impl_->gpios.find(gpio);
        if (it == impl_->gpios.end()) return recorder_.finish(entry, kNoSuchLine);
        it->second = level;
        recorder_.finish(entry, 0);
        listeners = impl_->listeners;
    }
    // Unlocked: a listener may drive other lines or read the board.
    for (const Impl::Listener& listener : *listeners) listener(gpio, level);
    return 0;
}

int Board::displayGetFreerunVfreq(int* setting)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    TraceEntry entry = recorder_.begin(Call::DisplayGetFreerunVfreq, 0);
    if (const std::optional<int> fault =
            impl_->injectedFault(Call::DisplayGetFreerunVfreq, nullptr)) {
        return recorder_.finish(entry, *fault);
    }
    if (setting == nullptr) return recorder_.finish(entry, -EINVAL);
    *setting = impl_->freerun;
    entry.value = impl_->freerun;
    return recorder_.finish(entry, 0);
}

int Board::displaySetFreerunVfreq(int setting)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    TraceEntry entry = recorder_.begin(Call::DisplaySetFreerunVfreq, 0);
    entry.value = setting;
    if (const std::optional<int> fault =
            impl_->injectedFault(Call::DisplaySetFreerunVfreq, nullptr)) {
        return recorder_.finish(entry, *fault);
    }
    impl_->freerun = setting;
    return recorder_.finish(entry, 0);
}

void wireAsDefaultBoard(Board& board)
{
    for (unsigned int bus = 0; bus < kDefaultBoardBuses; ++bus) board.addBus(bus);
    for (unsigned int gpio = 0; gpio < kDefaultBoardGpios; ++gpio) board.addGpio(gpio);
}

std::shared_ptr<Board> makeDefaultBoard()
{
    auto board = std::make_shared<Board>();
    wireAsDefaultBoard(*board);
    return board;
}

}  // namespace sim
}  // namespace ze
