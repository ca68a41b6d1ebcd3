// The wrapper and the registry driven from several threads at once, as a HAL
// framework may do while it brings the driver up and down. Under
// ThreadSanitizer (the host-tsan preset) every unsynchronised access fails.

#include <atomic>
#include <thread>

#include <boost/make_shared.hpp>

#include "driver_fixture.h"
#include "icinit.h"

namespace ze::test {
namespace {

constexpr int kDriverId = 21;
constexpr int kIicId = 1;
constexpr int kRounds = 2000;

TEST(WrapperThreads, InitRegisterAndUnregisterRaceToOneConsistentRegistration)
{
    auto board = std::make_shared<ze::sim::Board>();
    ze::platform::setSocBackend(board);
    auto registry = boost::make_shared<ze::hal::Registry>();
    {
        ze::ic::Vcom wrapper(registry, kDriverId, kIicId, ze::ic::VCOM_CHIPS_I2C);
        ASSERT_EQ(0, wrapper.initHardware());
        std::atomic<int> failures{0};
        auto repeat = [&](auto step) {
            return std::thread([&, step] {
                for (int i = 0; i < kRounds; ++i) {
                    if (step() != 0) ++failures;
                }
            });
        };
        std::thread threads[] = {
            repeat([&] { return wrapper.initHardware(); }),
            repeat([&] { return wrapper.registerDriver(); }),
            repeat([&] {
                wrapper.unregisterDriver();
                // A reader of the registry holds the driver while it may go.
                auto found = registry->getDriver(kDriverId, ze::hal::DRIVER_CLASS_VCOM);
                return found && found->getDriverClass() != ze::hal::DRIVER_CLASS_VCOM;
            }),
        };
        for (std::thread& t : threads) t.join();
        // The driver always existed once created, so no step could fail.
        EXPECT_EQ(0, failures);
        EXPECT_EQ(0, wrapper.registerDriver());
        EXPECT_EQ(boost::shared_ptr<ze::hal::Driver>(wrapper.driver),
                  registry->getDriver(kDriverId, ze::hal::DRIVER_CLASS_VCOM));
    }
    registry->unregisterDriver(kDriverId, ze::hal::DRIVER_CLASS_VCOM);
    EXPECT_EQ(0u, registry->size());
    ze::platform::setSocBackend(nullptr);
}

}  // namespace
}  // namespace ze::test
