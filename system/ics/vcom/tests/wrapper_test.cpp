// The IC wrapper: driver creation, registration and who owns the driver.

#include <memory>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ze/hal/halcore.h>
#include <ze/hal/iic.h>

#include "driver_fixture.h"
#include "icinit.h"

namespace ze {
namespace test {
namespace {

using ::testing::_;
using ::testing::Eq;
using ::testing::Invoke;
using ze::ic::VCOM_CHIPS_I2C;
using ze::ic::VCOM_CHIPS_NONE;

constexpr std::uint32_t kError = QOR_DEBUG_LEVEL_ERROR;
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

TEST_F(Wrapper, IsNamedVcomAndHasNothingToCheckOrRelease)
{
    ze::ic::Vcom wrapper(registry, kDriverId, kIicId, VCOM_CHIPS_I2C);
    EXPECT_EQ("Vcom", wrapper.getICName());
    EXPECT_EQ(0, wrapper.checkForHardware());
    EXPECT_EQ(0, wrapper.initHardware());
    EXPECT_EQ(0, wrapper.checkForHardware());
    EXPECT_EQ(0, wrapper.releaseHardware());
    EXPECT_TRUE(wrapper.driver);
}

TEST_F(Wrapper, FindsTheI2cDriverOfItsBusAndHandsItToTheDriver)
{
    auto iic = boost::make_shared<ze::hal::IIC>(kIicId);
    getZeHalCore()->getRegistry()->registerDriver(kIicId, iic);

    ze::ic::Vcom wrapper(registry, kDriverId, kIicId, VCOM_CHIPS_I2C);
    wrapper.initHardware();

    EXPECT_EQ(iic, wrapper.iic);
    EXPECT_EQ(iic, wrapper.driver->iic);
    getZeHalCore()->getRegistry()->unregisterDriver(kIicId, ze::hal::DRIVER_CLASS_IIC);
}

TEST_F(Wrapper, WithoutAnI2cDriverOrWithAClass15ObjectThatIsNoI2cDriverTheDriverGetsNone)
{
    {
        ze::ic::Vcom wrapper(registry, kDriverId, 99, VCOM_CHIPS_I2C);
        EXPECT_EQ(0, wrapper.initHardware());
        ASSERT_TRUE(wrapper.driver);
        EXPECT_FALSE(wrapper.driver->iic);
    }
    getZeHalCore()->getRegistry()->registerDriver(98, boost::make_shared<NotAnIic>());
    ze::ic::Vcom wrapper(registry, kDriverId, 98, VCOM_CHIPS_I2C);
    EXPECT_FALSE(wrapper.iic);
    EXPECT_TRUE(log.messages().empty());
    getZeHalCore()->getRegistry()->unregisterDriver(98, ze::hal::DRIVER_CLASS_IIC);
}

TEST_F(Wrapper, OnlyChipsValueZeroCreatesADriver)
{
    ze::ic::Vcom none(registry, kDriverId, kIicId, VCOM_CHIPS_NONE);
    EXPECT_EQ(0, none.initHardware());
    EXPECT_FALSE(none.driver);
    EXPECT_EQ(-1, none.registerDriver());
    EXPECT_EQ(-1, none.unregisterDriver());

    ze::ic::Vcom other(registry, kDriverId, kIicId, static_cast<ze::ic::VcomChips_t>(2));
    EXPECT_EQ(-1, other.initHardware());
    EXPECT_FALSE(other.driver);

    EXPECT_TRUE(log.messages().empty());
    EXPECT_EQ(0u, registry->size());
}

TEST_F(Wrapper, ASecondInitHardwareReplacesTheDriverAndFreesAnUnregisteredOne)
{
    ze::ic::Vcom wrapper(registry, kDriverId, kIicId, VCOM_CHIPS_I2C);
    wrapper.initHardware();
    boost::weak_ptr<ze::ic::VCOMICDriver> first = wrapper.driver;

    wrapper.initHardware();

    EXPECT_TRUE(first.expired());
    EXPECT_TRUE(wrapper.driver);
}

TEST_F(Wrapper, ARegisteredDriverSurvivesItsReplacementAndTheWrapper)
{
    boost::weak_ptr<ze::ic::VCOMICDriver> first;
    {
        ze::ic::Vcom wrapper(registry, kDriverId, kIicId, VCOM_CHIPS_I2C);
        wrapper.initHardware();
        first = wrapper.driver;
        EXPECT_EQ(0, wrapper.registerDriver());
        wrapper.initHardware();
        EXPECT_FALSE(first.expired());
        EXPECT_EQ(first.lock(), registry->getDriver(kDriverId, ze::hal::DRIVER_CLASS_VCOM));
    }
    EXPECT_FALSE(first.expired());
    registry->unregisterDriver(kDriverId, ze::hal::DRIVER_CLASS_VCOM);
    EXPECT_TRUE(first.expired());
}

TEST_F(Wrapper, UnregisteringDropsTheRegistrysReferenceButKeepsTheWrappers)
{
    ze::ic::Vcom wrapper(registry, kDriverId, kIicId, VCOM_CHIPS_I2C);
    wrapper.initHardware();
    wrapper.registerDriver();
    EXPECT_EQ(2, wrapper.driver.use_count());

    EXPECT_EQ(0, wrapper.unregisterDriver());

    EXPECT_EQ(1, wrapper.driver.use_count());
    EXPECT_FALSE(registry->getDriver(kDriverId, ze::hal::DRIVER_CLASS_VCOM));
    EXPECT_EQ(0, wrapper.registerDriver());
    EXPECT_TRUE(registry->getDriver(kDriverId, ze::hal::DRIVER_CLASS_VCOM));
}

TEST_F(Wrapper, TheRegistryIsCalledEveryTimeWithTheCurrentDriverAndItsResultIsIgnored)
{
    auto mock = boost::make_shared<::testing::StrictMock<MockRegistry>>();
    ze::ic::Vcom wrapper(mock, kDriverId, kIicId, VCOM_CHIPS_I2C);
    wrapper.initHardware();
    boost::shared_ptr<ze::hal::Driver> first = wrapper.driver;

    EXPECT_CALL(*mock, unregisterDriver(kDriverId, ze::hal::DRIVER_CLASS_VCOM)).WillOnce(Invoke([](int, ze::hal::driverClass_enum) { return -1; }));
    EXPECT_EQ(0, wrapper.unregisterDriver());

    EXPECT_CALL(*mock, registerDriver(kDriverId, Eq(first))).Times(2).WillRepeatedly(Invoke([](int, boost::shared_ptr<ze::hal::Driver>) { return -1; }));
    EXPECT_EQ(0, wrapper.registerDriver());
    EXPECT_EQ(0, wrapper.releaseHardware());
    EXPECT_EQ(0, wrapper.registerDriver());

    wrapper.initHardware();
    boost::shared_ptr<ze::hal::Driver> second = wrapper.driver;
    EXPECT_CALL(*mock, registerDriver(kDriverId, Eq(second))).WillOnce(Invoke([](int, boost::shared_ptr<ze::hal::Driver>) { return 0; }));
    EXPECT_EQ(0, wrapper.registerDriver());
}

TEST_F(Wrapper, WithoutARegistryBothOperationsFailAndSaySoOnceThereIsADriver)
{
    ze::ic::Vcom wrapper(boost::shared_ptr<ze::hal::Registry>(), kDriverId, kIicId,
                         VCOM_CHIPS_I2C);
    EXPECT_EQ(-1, wrapper.registerDriver());
    EXPECT_EQ(-1, wrapper.unregisterDriver());
    EXPECT_TRUE(log.messages().empty());

    wrapper.initHardware();
    EXPECT_EQ(-1, wrapper.registerDriver());
    EXPECT_EQ(-1, wrapper.unregisterDriver());
    EXPECT_EQ((std::vector<std::string>{
                  "Registering Vcom driver failed because no HALRegistry is available!\n",
                  "Unregistering Vcom driver failed because no HALUnregistry is available!\n"}),
              log.bodies(kError));
    EXPECT_EQ(0u, log.messages()[0].text.rfind("icinit.cpp:", 0));
}

TEST_F(Wrapper, TheWrapperHoldsOneReferenceToTheRegistryAndReleasesIt)
{
    {
        ze::ic::Vcom wrapper(registry, kDriverId, kIicId, VCOM_CHIPS_I2C);
        EXPECT_EQ(2, registry.use_count());
    }
    EXPECT_EQ(1, registry.use_count());
}

}  // namespace
}  // namespace test
}  // namespace ze
