// Every byte a chip returns and every status of every SoC call comes from the
// input, for each chip's read, update and save through the dispatch.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include <ze/ic/chip_catalogue.h>
#include <ze/platform/soc_backend.h>
#include <ze/platform/vcom_board.h>
#include <ze/sim/panel.h>
#include <ze/test/virtual_clock.h>

#include "fuzz_support.h"
#include "vcomic/VCOMICdriver.h"

namespace {

using ze::ic::catalogue::ChipInfo;

constexpr unsigned int kBus = 1;
constexpr unsigned char kVcomAddr = 0xE8;
constexpr int kStatuses[] = {-EIO, -ENXIO, -EREMOTEIO, -ETIMEDOUT, 1, 0x7F};
// Most calls succeed, so that sequences get far.
constexpr std::uint8_t kFailAbove = 0xD0;
// An IN525 save with every handshake and attempt repeated takes about 4.1 s.
constexpr std::uint64_t kLongestOperationUs = 4500000;

// IN525 block (8 bytes at 0x3A) and IN518 record (5 bytes at 0x31).
constexpr std::uint8_t kIn525Block = 0x3A, kIn525Select = 0x35, kIn525Unlock1 = 0x38;
constexpr std::size_t kIn525BlockSize = 8, kIn525Vcom1 = 3, kIn525Vcom2 = 6;
constexpr std::uint8_t kIn518Record = 0x31;
constexpr std::uint8_t kIn518Head[] = {0x01, 0x89, 0x57};
constexpr unsigned short kCrcSeed = 0xD200;
constexpr unsigned int kCrcPolynomial = 0xB480;  // 0x169 << 7

enum class Op { Read, Update, Save };

std::uint8_t crc8(const std::uint8_t* bytes, std::size_t count)
{
    unsigned int r = kCrcSeed;
    for (std::size_t i = 0; i < count; ++i) {
        r = (r + bytes[i]) & 0xFFFF;
        for (int bit = 0; bit < 16; ++bit)
            r = ((r & 0x8000) ? r ^ kCrcPolynomial : r) << 1 & 0xFFFF;
    }
    return static_cast<std::uint8_t>(r >> 8);
}

struct Transfer {
    bool write;
    std::uint8_t dev, sub;
    std::vector<std::uint8_t> data;
    int status;
};

class FuzzedSoc : public ze::platform::SocBackend {
public:
    explicit FuzzedSoc(FuzzedDataProvider& input) : input_(input) {}
    const char* name() const override { return "fuzzed"; }
    std::vector<unsigned int> buses() const override { return {kBus}; }
    int i2cOpen(unsigned int, unsigned int) override { return next(); }
    int i2cWrite(unsigned int, const I2cTarget& target, const unsigned char* data,
                 unsigned int length) override
    {
        return record(true, target, std::vector<std::uint8_t>(data, data + length));
    }
    int i2cRead(unsigned int, const I2cTarget& target, unsigned int length,
                unsigned char* buffer) override
    {
        std::vector<std::uint8_t> bytes = input_.ConsumeBytes<std::uint8_t>(length);
        bytes.resize(length);
        const int status = record(false, target, bytes);
        std::copy(bytes.begin(), bytes.end(), buffer);
        return status;
    }
    int gpioSetValue(unsigned int, unsigned int) override { return next(); }
    int displayGetFreerunVfreq(int* setting) override { return *setting = 0, next(); }
    int displaySetFreerunVfreq(int) override { return next(); }

    std::vector<Transfer> transfers;
    std::set<int> statuses{0};

private:
    // Once the input is used up, the chip has gone.
    int next()
    {
        const std::uint8_t byte =
            input_.remaining_bytes() ? input_.ConsumeIntegral<std::uint8_t>() : std::uint8_t{0xFF};
        const int status = byte < kFailAbove ? 0 : kStatuses[byte % std::size(kStatuses)];
        statuses.insert(status);
        return status;
    }
    int record(bool write, const I2cTarget& target, std::vector<std::uint8_t> data)
    {
        const int status = next();
        transfers.push_back({write, target.devAddr, target.subAddr, std::move(data), status});
        return status;
    }
    FuzzedDataProvider& input_;
};

bool isWrite(const Transfer& t, std::uint8_t sub, std::size_t size)
{
    return t.write && t.dev == kVcomAddr && t.sub == sub && t.data.size() == size;
}

bool isGoodRead(const Transfer& t, std::uint8_t sub, std::size_t size)
{
    return !t.write && t.status == 0 && t.dev == kVcomAddr && t.sub == sub && t.data.size() == size;
}

// Each block written holds the block read in the same attempt, with the new
// VCOM1, VCOM2 as the select byte says, and its CRC.
void checkIn525Blocks(const std::vector<Transfer>& transfers, std::uint8_t vcom)
{
    const Transfer* block = nullptr;
    const Transfer* select = nullptr;
    for (const Transfer& t : transfers) {
        if (isWrite(t, kIn525Unlock1, 1)) block = select = nullptr;  // a new attempt
        if (isGoodRead(t, kIn525Select, 1)) select = &t;
        if (isGoodRead(t, kIn525Block, kIn525BlockSize)) block = &t;
        if (!isWrite(t, kIn525Block, kIn525BlockSize)) continue;
        FUZZ_EXPECT(block != nullptr);
        std::vector<std::uint8_t> expected = block->data;
        expected[kIn525Vcom1] = vcom;
        const std::uint8_t shifted =
            static_cast<std::uint8_t>(block->data[kIn525Vcom2] - block->data[kIn525Vcom1] + vcom);
        if (select != nullptr && select->data[0] == 1) expected[kIn525Vcom2] = shifted;
        if (select == nullptr && t.data[kIn525Vcom2] == shifted) expected[kIn525Vcom2] = shifted;
        expected.back() = crc8(expected.data(), kIn525BlockSize - 1);
        FUZZ_EXPECT(t.data == expected);
    }
}

void checkIn518Records(const std::vector<Transfer>& transfers, std::uint8_t vcom)
{
    std::vector<std::uint8_t> expected(std::begin(kIn518Head), std::end(kIn518Head));
    expected.push_back(vcom);
    expected.push_back(crc8(expected.data(), expected.size()));
    for (const Transfer& t : transfers) {
        if (t.write && t.sub == kIn518Record && t.dev == kVcomAddr) FUZZ_EXPECT(t.data == expected);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ze::fuzz::startInput();
    FuzzedDataProvider input(data, size);
    const ChipInfo& chip = ze::ic::catalogue::kChips[input.ConsumeIntegralInRange<std::size_t>(
        0, ze::ic::catalogue::kChipCount - 1)];
    const ze::sim::ChipModel* model = ze::sim::chipModel(chip.typeIdx);
    FUZZ_EXPECT(model != nullptr);
    const Op op = input.PickValueInArray({Op::Read, Op::Update, Op::Save});
    const unsigned short value = input.ConsumeIntegral<unsigned short>();
    ze::platform::VcomBoardConfig config;
    config.typeIdx = chip.typeIdx;
    config.i2cBus = kBus;
    config.vcomAddr = kVcomAddr;
    config.i2cSwitchType = input.ConsumeBool() ? 1 : 0;
    ze::platform::writeVcomBoard(ze::fuzz::platformRoot(), config);

    auto soc = std::make_shared<FuzzedSoc>(input);
    ze::platform::setSocBackend(soc);
    ze::ic::VCOMICDriver driver(1, nullptr);
    driver.Get_Vcom_DataSeparation();
    int result = 0;
    switch (op) {
        case Op::Read:
            result = driver.u1DrvReadVcom();
            FUZZ_EXPECT(ze::sim::readable(*model, static_cast<unsigned short>(result)));
            break;
        case Op::Update:
            result = driver.u1DrvUpdataVcom(value);
            break;
        case Op::Save:
            result = driver.u1DrvSaveVcom(value);
            break;
    }
    ze::platform::setSocBackend(nullptr);

    // Results: success, the driver's own -1, or a status the SoC gave.
    FUZZ_EXPECT(op == Op::Read || result == -1 || soc->statuses.count(result) == 1);
    const bool reached = std::any_of(soc->transfers.begin(), soc->transfers.end(),
                                     [](const Transfer& t) { return t.status == 0; });
    const bool savesToEnv = op == Op::Save && !model->keepsSave;
    if (!reached && !savesToEnv) FUZZ_EXPECT(op == Op::Read ? result == 0 : result != 0);
    FUZZ_EXPECT(ze::test::nowUs() <= kLongestOperationUs);
    if (op != Op::Read) {
        checkIn525Blocks(soc->transfers, static_cast<std::uint8_t>(value));
        checkIn518Records(soc->transfers, static_cast<std::uint8_t>(value));
    }
    return 0;
}
