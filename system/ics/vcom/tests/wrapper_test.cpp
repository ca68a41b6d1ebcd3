// The IC wrapper: driver creation, registration and who owns the driver.

#include <thread>

#include <gmock/gmock.h>
#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>

#include <ze/hal/halcore.h>
#include <ze/hal/iic.h>

#include "driver_fixture.h"
#include "icinit.h"

namespace ze::test {
namespace {

using ::testing::Eq;
using ::testing::Return;
using ze::hal::DRIVER_CLASS_VCOM;
using ze::ic::Vcom;
using ze::ic::VCOM_CHIPS_I2C;

constexpr int kDriverId = 11;
constexpr int kIicId = 6;

class MockRegistry : public ze::hal::Registry {
public:
    MOCK_METHOD(int, registerDriver, (int, boost::shared_ptr<ze::hal::Driver>), (override));
    MOCK_METHOD(int, unregisterDriver, (int, ze::hal::driverClass_enum), (override));
};

class NotAnIic : public ze::hal::Driver {
public:
    NotAnIic() : ze::hal::Driver(ze::hal::DRIVER_CLASS_IIC) {}
};

class Wrapper : public DriverTest {
protected:
    boost::shared_ptr<ze::hal::Registry> registry = boost::make_shared<ze::hal::Registry>();
};

TEST_F(Wrapper, HasNothingToCheckOrReleaseAndHoldsOneRegistryReference)
{
    {
        Vcom wrapper(registry, kDriverId, kIicId, VCOM_CHIPS_I2C);
        EXPECT_EQ(2, registry.use_count());
        EXPECT_EQ("Vcom", wrapper.getICName());
        EXPECT_EQ(0, wrapper.checkForHardware());
        EXPECT_EQ(0, wrapper.initHardware());
        EXPECT_EQ(0, wrapper.releaseHardware());
        EXPECT_TRUE(wrapper.driver);
    }
    EXPECT_EQ(1, registry.use_count());
}

TEST_F(Wrapper, HandsTheDriverTheI2cDriverOfItsBusAndNothingElse)
{
    auto iic = boost::make_shared<ze::hal::IIC>(kIicId);
    getZeHalCore()->getRegistry()->registerDriver(kIicId, iic);
    getZeHalCore()->getRegistry()->registerDriver(98, boost::make_shared<NotAnIic>());
    for (int bus : {kIicId, 98, 99}) {
        Vcom wrapper(registry, kDriverId, bus, VCOM_CHIPS_I2C);
        EXPECT_EQ(0, wrapper.initHardware());
        EXPECT_EQ(bus == kIicId ? iic : nullptr, wrapper.iic) << bus;
        EXPECT_EQ(bus == kIicId ? iic : nullptr, wrapper.driver->iic) << bus;
    }
    EXPECT_TRUE(log.messages().empty());
    getZeHalCore()->getRegistry()->unregisterDriver(kIicId, ze::hal::DRIVER_CLASS_IIC);
    getZeHalCore()->getRegistry()->unregisterDriver(98, ze::hal::DRIVER_CLASS_IIC);
}

TEST_F(Wrapper, OnlyChipsValueZeroCreatesADriver)
{
    Vcom none(registry, kDriverId, kIicId, ze::ic::VCOM_CHIPS_NONE);
    EXPECT_EQ(0, none.initHardware());
    EXPECT_EQ(-1, none.registerDriver());
    EXPECT_EQ(-1, none.unregisterDriver());
    Vcom other(registry, kDriverId, kIicId, static_cast<ze::ic::VcomChips_t>(2));
    EXPECT_EQ(-1, other.initHardware());
    EXPECT_FALSE(none.driver || other.driver);
    EXPECT_TRUE(log.messages().empty());
    EXPECT_EQ(0u, registry->size());
}

TEST_F(Wrapper, ASecondInitHardwareFreesAnUnregisteredDriverButNotARegisteredOne)
{
    boost::weak_ptr<ze::ic::VCOMICDriver> first, second;
    {
        Vcom wrapper(registry, kDriverId, kIicId, VCOM_CHIPS_I2C);
        wrapper.initHardware();
        first = wrapper.driver;
        wrapper.initHardware();
        EXPECT_TRUE(first.expired());
        second = wrapper.driver;
        EXPECT_EQ(0, wrapper.registerDriver());
        wrapper.initHardware();
        EXPECT_EQ(second.lock(), registry->getDriver(kDriverId, DRIVER_CLASS_VCOM));
    }
    EXPECT_FALSE(second.expired());
    registry->unregisterDriver(kDriverId, DRIVER_CLASS_VCOM);
    EXPECT_TRUE(second.expired());
}

TEST_F(Wrapper, TheRegistryIsCalledEveryTimeWithTheCurrentDriverAndItsResultIsIgnored)
{
    auto mock = boost::make_shared<::testing::StrictMock<MockRegistry>>();
    Vcom wrapper(mock, kDriverId, kIicId, VCOM_CHIPS_I2C);
    wrapper.initHardware();
    boost::shared_ptr<ze::hal::Driver> first = wrapper.driver;
    EXPECT_CALL(*mock, unregisterDriver(kDriverId, DRIVER_CLASS_VCOM)).WillOnce(Return(-1));
    EXPECT_EQ(0, wrapper.unregisterDriver());
    EXPECT_CALL(*mock, registerDriver(kDriverId, Eq(first))).Times(2).WillRepeatedly(Return(-1));
    EXPECT_EQ(0, wrapper.registerDriver());
    EXPECT_EQ(0, wrapper.releaseHardware());
    EXPECT_EQ(0, wrapper.registerDriver());
    wrapper.initHardware();
    EXPECT_CALL(*mock, registerDriver(kDriverId, Eq(wrapper.driver))).WillOnce(Return(0));
    EXPECT_EQ(0, wrapper.registerDriver());
}

TEST_F(Wrapper, WithoutARegistryBothOperationsFailAndSaySoOnceThereIsADriver)
{
    Vcom wrapper(boost::shared_ptr<ze::hal::Registry>(), kDriverId, kIicId, VCOM_CHIPS_I2C);
    EXPECT_EQ(-1, wrapper.registerDriver());
    EXPECT_EQ(-1, wrapper.unregisterDriver());
    EXPECT_TRUE(log.messages().empty());
    wrapper.initHardware();
    EXPECT_EQ(-1, wrapper.registerDriver());
    EXPECT_EQ(-1, wrapper.unregisterDriver());
    EXPECT_EQ(
        "E Registering Vcom driver failed because no HALRegistry is available!\n"
        "E Unregistering Vcom driver failed because no HALUnregistry is available!\n",
        levelled());
    EXPECT_EQ("registerDriver",
              site("Registering Vcom driver failed because no HALRegistry is available!\n"));
}

// Under ThreadSanitizer a plain read of `driver` here races the replacement.
TEST_F(Wrapper, RegisterDriverDuringInitHardwareAlwaysHandsTheRegistryAWholeDriver)
{
    constexpr int kRounds = 2000;
    Vcom wrapper(registry, kDriverId, kIicId, VCOM_CHIPS_I2C);
    wrapper.initHardware();
    std::thread replacer([&] {
        for (int i = 0; i < kRounds; ++i) wrapper.initHardware();
    });
    for (int i = 0; i < kRounds; ++i) ASSERT_EQ(0, wrapper.registerDriver());
    replacer.join();
    const auto registered = registry->getDriver(kDriverId, DRIVER_CLASS_VCOM);
    ASSERT_TRUE(registered);
    EXPECT_EQ(DRIVER_CLASS_VCOM, registered->getDriverClass());
    registry->unregisterDriver(kDriverId, DRIVER_CLASS_VCOM);
}

}  // namespace
}  // namespace ze::test
