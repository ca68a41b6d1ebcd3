#include "model_dump.h"

#include <cstdio>

#include <ze/sim/models/auo.h>
#include <ze/sim/models/boe.h>
#include <ze/sim/models/g1625.h>
#include <ze/sim/models/innolux.h>
#include <ze/sim/models/kd733.h>
#include <ze/sim/models/rt6966.h>

namespace modelbus {
namespace {

using ze::sim::In525Chip;
// Offsets of VCOM1 (0x3D) and VCOM2 (0x40) in the IN525's block.
constexpr std::size_t kIn525Vcom1 = In525Chip::kRegVcom1 - In525Chip::kRegBlock;
constexpr std::size_t kIn525Vcom2 = 0x40 - In525Chip::kRegBlock;

class Fields {
public:
    Fields& hex(const char* key, unsigned int value) { return add(key, "0x%02x", value); }
    Fields& count(const char* key, unsigned int value) { return add(key, "%u", value); }
    Fields& flag(const char* key, bool value) { return add(key, "%u", value ? 1u : 0u); }
    template <typename Bytes>
    Fields& bytes(const char* key, const Bytes& values)
    {
        separate();
        text_ += key;
        text_ += '=';
        char byte[4];
        for (unsigned int value : values) {
            std::snprintf(byte, sizeof byte, "%02x", value);
            text_ += byte;
        }
        return *this;
    }
    const std::string& text() const { return text_; }

private:
    Fields& add(const char* key, const char* format, unsigned int value)
    {
        separate();
        char field[48];
        std::snprintf(field, sizeof field, "%s=", key);
        text_ += field;
        std::snprintf(field, sizeof field, format, value);
        text_ += field;
        return *this;
    }
    void separate()
    {
        if (!text_.empty()) text_ += ' ';
    }

    std::string text_;
};

void addInnolux(Fields& fields, const ze::sim::InnoluxChip& chip, const ze::sim::Panel& panel)
{
    fields.hex("status", chip.status())
        .flag("unlocked", chip.isUnlocked())
        .count("programs", chip.programCount())
        .count("locks", chip.lockCount());
    if (const auto* bridge = dynamic_cast<const ze::sim::InnoluxBridge*>(panel.bridge.get())) {
        fields.flag("bridge_open", bridge->isOpen()).count("bridge_opens", bridge->openCount());
    }
}

}  // namespace

std::string dumpPanel(const ze::sim::Panel& panel)
{
    using namespace ze::sim;
    Fields fields;
    const I2cDevice* chip = panel.chip.get();
    if (const auto* auo = dynamic_cast<const AuoChip*>(chip)) {
        fields.hex("setting", auo->setting())
            .hex("nvm", auo->nvm())
            .count("saves", auo->saveCount());
    } else if (const auto* boe = dynamic_cast<const BoeChip*>(chip)) {
        fields.hex("code", boe->code())
            .hex("nvm", boe->nvmCode())
            .hex("control", boe->control())
            .count("saves", boe->saveCount());
    } else if (const auto* kd733 = dynamic_cast<const Kd733Chip*>(chip)) {
        fields.hex("reference", kd733->reference())
            .hex("setting", kd733->setting())
            .hex("nvm", kd733->nvmSetting())
            .count("saves", kd733->saveCount());
    } else if (const auto* rt6966 = dynamic_cast<const Rt6966*>(chip)) {
        fields.hex("vcom_h", rt6966->reg(Rt6966::kRegVcomH))
            .hex("vcom_l", rt6966->reg(Rt6966::kRegVcomL))
            .hex("code", rt6966->code());
    } else if (const auto* g1625 = dynamic_cast<const G1625*>(chip)) {
        fields.hex("setting", g1625->setting())
            .hex("nvm", g1625->nvmSetting())
            .count("nvm_writes", g1625->nvmWrites());
    } else if (const auto* in525 = dynamic_cast<const In525Chip*>(chip)) {
        fields.bytes("block", in525->block())
            .bytes("nvm", in525->nvmBlock())
            .hex("vcom1", in525->block()[kIn525Vcom1])
            .hex("vcom2", in525->block()[kIn525Vcom2])
            .hex("nvm_vcom1", in525->nvmBlock()[kIn525Vcom1])
            .hex("nvm_vcom2", in525->nvmBlock()[kIn525Vcom2]);
        addInnolux(fields, *in525, panel);
    } else if (const auto* in518 = dynamic_cast<const In518Chip*>(chip)) {
        fields.hex("vcom", in518->vcom()).hex("nvm", in518->nvmVcom());
        addInnolux(fields, *in518, panel);
    }
    return fields.text();
}

}  // namespace modelbus
