#include <ze/sim/board.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <set>
#include <stdexcept>

namespace ze {
namespace sim {

I2cDevice::~I2cDevice() = default;

struct Board::Impl {
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
    std::map<unsigned int, std::map<std::uint8_t, std::shared_ptr<I2cDevice>>> buses;
    std::map<unsigned int, unsigned int> gpios;
    std::vector<std::shared_ptr<std::function<void(unsigned int, unsigned int)>>> listeners;
    int freerun = 0;
    std::vector<CountedFault> counted;
    std::vector<MatchingFault> matching;

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

    // The device answering at this 8-bit address, or the status of the failure.
    int route(unsigned int bus, std::uint8_t addr8, std::shared_ptr<I2cDevice>* device) const
    {
        const auto b = buses.find(bus);
        if (b == buses.end()) return kNoSuchBus;
        const auto d = b->second.find(static_cast<std::uint8_t>(addr8 >> 1));
        if (d == b->second.end()) return kAddressNack;
        *device = d->second;
        return 0;
    }
};

Board::Board() : SocBackend(true), impl_(std::make_unique<Impl>()) {}
Board::~Board() = default;

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
    if (!b->second.emplace(static_cast<std::uint8_t>(addr8 >> 1), std::move(device)).second) {
        char text[64];
        std::snprintf(text, sizeof text, "sim board: address 0x%02X on bus %u is taken", addr8,
                      bus);
        throw std::invalid_argument(text);
    }
}

void Board::detach(unsigned int bus, std::uint8_t addr8)
{
    std::shared_ptr<I2cDevice> detached;
    std::lock_guard<std::mutex> lock(impl_->mutex);
    const auto b = impl_->buses.find(bus);
    if (b == impl_->buses.end()) return;
    const auto d = b->second.find(static_cast<std::uint8_t>(addr8 >> 1));
    if (d == b->second.end()) return;
    detached = std::move(d->second);  // released after unlocking
    b->second.erase(d);
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
    auto shared =
        std::make_shared<std::function<void(unsigned int, unsigned int)>>(std::move(listener));
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->listeners.push_back(std::move(shared));
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
        for (auto& device : bus.second) {
            if (done.insert(device.second.get()).second) device.second->powerCycle();
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
    if (length > 0) entry.data.assign(data, data + length);

    if (const std::optional<int> fault = impl_->injectedFault(Call::I2CWrite, &target)) {
        return recorder_.finish(entry, *fault);
    }
    if (target.subAddrLen > 1) return recorder_.finish(entry, -EINVAL);
    std::shared_ptr<I2cDevice> device;
    if (const int status = impl_->route(bus, target.devAddr, &device)) {
        return recorder_.finish(entry, status);
    }
    std::vector<std::uint8_t> phase;
    phase.reserve(length + 1u);
    if (target.subAddrLen == 1) phase.push_back(target.subAddr);
    phase.insert(phase.end(), entry.data.begin(), entry.data.end());
    return recorder_.finish(entry, device->write(phase.data(), phase.size()));
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
    std::shared_ptr<I2cDevice> device;
    if (const int status = impl_->route(bus, target.devAddr, &device)) {
        return recorder_.finish(entry, status);
    }
    if (target.subAddrLen == 1) {
        if (const int status = device->write(&target.subAddr, 1)) {
            return recorder_.finish(entry, status);
        }
    }
    std::vector<std::uint8_t> bytes(length);
    const int status = device->read(bytes.data(), bytes.size());
    if (status == 0) {
        std::copy(bytes.begin(), bytes.end(), buffer);
        entry.data = std::move(bytes);
    }
    return recorder_.finish(entry, status);
}

int Board::gpioSetValue(unsigned int gpio, unsigned int level)
{
    std::vector<std::shared_ptr<std::function<void(unsigned int, unsigned int)>>> listeners;
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
    for (const auto& listener : listeners) (*listener)(gpio, level);
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

std::shared_ptr<Board> makeDefaultBoard()
{
    auto board = std::make_shared<Board>();
    for (unsigned int bus = 0; bus < kDefaultBoardBuses; ++bus) board->addBus(bus);
    for (unsigned int gpio = 0; gpio < kDefaultBoardGpios; ++gpio) board->addGpio(gpio);
    return board;
}

}  // namespace sim
}  // namespace ze
