#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <boost/make_shared.hpp>

#include <ze/hal/halcore.h>
#include <ze/hal/iic.h>
#include <ze/sim/board.h>

namespace {

using namespace ze::hal;

class PlainDriver : public Driver {
public:
    explicit PlainDriver(driverClass_enum driverClass) : Driver(driverClass) {}
};

TEST(Registry, DriversAreKeyedByNumberAndTheirOwnClass)
{
    Registry registry;
    const auto iic = boost::make_shared<IIC>(1);
    const auto vcom = boost::make_shared<PlainDriver>(DRIVER_CLASS_VCOM);
    EXPECT_EQ(registry.registerDriver(1, iic), 0);
    EXPECT_EQ(registry.registerDriver(1, vcom), 0);
    EXPECT_EQ(registry.registerDriver(2, boost::shared_ptr<Driver>()), -1);
    EXPECT_EQ(registry.getDriver(1, DRIVER_CLASS_IIC), iic);
    EXPECT_EQ(registry.getDriver(1, DRIVER_CLASS_VCOM), vcom);
    EXPECT_FALSE(registry.getDriver(2, DRIVER_CLASS_IIC));
    EXPECT_FALSE(registry.getDriver(1, DRIVER_CLASS_GPIO));
    const auto replacement = boost::make_shared<PlainDriver>(DRIVER_CLASS_IIC);
    EXPECT_EQ(registry.registerDriver(1, replacement), 0);
    EXPECT_EQ(registry.size(), 2u);
    EXPECT_EQ(registry.getDriver(1, DRIVER_CLASS_IIC), replacement);
    EXPECT_EQ(registry.unregisterDriver(1, DRIVER_CLASS_IIC), 0);
    EXPECT_EQ(registry.unregisterDriver(1, DRIVER_CLASS_IIC), -1);
    EXPECT_FALSE(registry.getDriver(1, DRIVER_CLASS_IIC));
    EXPECT_EQ(registry.getDriver(1, DRIVER_CLASS_VCOM), vcom);
}

TEST(Registry, ConcurrentRegistrationAndRemovalKeepTheTableConsistent)
{
    Registry registry;
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&registry, t] {
            const auto mine = boost::make_shared<PlainDriver>(DRIVER_CLASS_GPIO);
            for (int i = 0; i < 300; ++i) {
                const int id = t * 100 + i % 7;
                ASSERT_EQ(registry.registerDriver(id, mine), 0);
                ASSERT_EQ(registry.getDriver(id, DRIVER_CLASS_GPIO), mine);
                ASSERT_EQ(registry.unregisterDriver(id, DRIVER_CLASS_GPIO), 0);
                // A key every thread fights over: whatever is found has the asked class.
                registry.registerDriver(-1, boost::make_shared<PlainDriver>(DRIVER_CLASS_IIC));
                const auto shared = registry.getDriver(-1, DRIVER_CLASS_IIC);
                ASSERT_TRUE(shared);
                ASSERT_EQ(shared->getDriverClass(), DRIVER_CLASS_IIC);
            }
            registry.registerDriver(1000 + t, mine);
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(registry.size(), 7u);
}

TEST(HalCore, PublishesOneI2cDriverPerBusOfTheSocBackend)
{
    auto board = std::make_shared<ze::sim::Board>();
    board->addBus(1);
    board->addBus(5);
    ze::platform::setSocBackend(board);
    HalCore core;
    ze::platform::setSocBackend(nullptr);

    for (unsigned int bus : {1u, 5u}) {
        const boost::shared_ptr<IIC> iic = boost::dynamic_pointer_cast<IIC>(
            core.getDriver(static_cast<int>(bus), DRIVER_CLASS_IIC));
        ASSERT_TRUE(iic) << bus;
        EXPECT_EQ(iic->getBus(), bus);
    }
    EXPECT_FALSE(core.getDriver(0, DRIVER_CLASS_IIC));
    EXPECT_FALSE(core.getDriver(1, DRIVER_CLASS_VCOM));
    EXPECT_EQ(core.getRegistry()->size(), 2u);
}

}  // namespace
