// Parameters: get, set and schedule; property listeners; and the descriptions and texts
// behind the parameter properties. Values live only in the `ParamSet`.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "entry.hpp"
#include "instance.hpp"
#include "properties.hpp"
#include "sys/cf.hpp"
#include "text.hpp"

namespace velk::au {
namespace {

/// The longest name in ParameterInfo's fixed field: 52 bytes with the terminating zero.
constexpr std::size_t INFO_NAME_BYTES = 51;

/// The checks common to get, set and schedule: a global scope, element 0 and a valid id.
OSStatus check_address(const Instance& inst, AudioUnitParameterID id, AudioUnitScope scope,
                       AudioUnitElement element) noexcept {
    if (scope != kAudioUnitScope_Global)
        return kAudioUnitErr_InvalidScope;
    if (element != 0)
        return kAudioUnitErr_InvalidElement;
    if (!inst.decode(id))
        return kAudioUnitErr_InvalidParameter;
    return noErr;
}

AudioUnitParameterUnit unit_of(const ParamInfo& info) noexcept {
    switch (info.kind) {
    case Kind::Choice:
        return kAudioUnitParameterUnit_Indexed;
    case Kind::Toggle:
        return kAudioUnitParameterUnit_Boolean;
    case Kind::Number:
    case Kind::Meter:
        break;
    }
    if (info.unit == "%")
        return kAudioUnitParameterUnit_Percent;
    if (info.unit == "s")
        return kAudioUnitParameterUnit_Seconds;
    if (info.unit == "Hz")
        return kAudioUnitParameterUnit_Hertz;
    if (info.unit == "dB")
        return kAudioUnitParameterUnit_Decibels;
    if (info.unit == "ms")
        return kAudioUnitParameterUnit_Milliseconds;
    return kAudioUnitParameterUnit_Generic;
}

AudioUnitParameterOptions flags_of(const ParamInfo& info) noexcept {
    AudioUnitParameterOptions flags = kAudioUnitParameterFlag_IsReadable |
                                      kAudioUnitParameterFlag_HasCFNameString |
                                      kAudioUnitParameterFlag_CFNameRelease;
    flags |= info.kind == Kind::Meter ? kAudioUnitParameterFlag_MeterReadOnly
                                      : kAudioUnitParameterFlag_IsWritable;
    if (info.kind == Kind::Choice)
        flags |= kAudioUnitParameterFlag_ValuesHaveStrings;
    if (info.log)
        flags |= kAudioUnitParameterFlag_DisplayLogarithmic;
    return flags;
}

} // namespace

OSStatus get_parameter(void* self, AudioUnitParameterID id, AudioUnitScope scope,
                       AudioUnitElement element, AudioUnitParameterValue* value_out) noexcept {
    const Instance* inst = Instance::from(self);
    if (inst == nullptr)
        return kAudio_ParamError;
    if (const OSStatus status = check_address(*inst, id, scope, element); status != noErr)
        return status;
    const auto value = inst->get_value(id);
    if (value_out == nullptr)
        return kAudio_ParamError;
    *value_out = *value;
    return noErr;
}

OSStatus set_parameter(void* self, AudioUnitParameterID id, AudioUnitScope scope,
                       AudioUnitElement element, AudioUnitParameterValue value,
                       UInt32 /*offset*/) noexcept {
    const Instance* inst = Instance::from(self);
    if (inst == nullptr)
        return kAudio_ParamError;
    if (const OSStatus status = check_address(*inst, id, scope, element); status != noErr)
        return status;
    const ParamRef ref = *inst->decode(id);
    Param& param = inst->params.at(ref.index);
    if (!std::isfinite(value) || param.info().kind == Kind::Meter)
        return kAudioUnitErr_InvalidParameter;
    if (ref.channel)
        param.set_ch(*ref.channel, value);
    else
        param.set(value);
    return noErr;
}

OSStatus schedule_parameters(void* self, const AudioUnitParameterEvent* events,
                             UInt32 count) noexcept {
    Instance* inst = Instance::from(self);
    if (inst == nullptr || (events == nullptr && count > 0))
        return kAudio_ParamError;
    return contained([&] {
        // Events before a refused one stay queued.
        for (UInt32 i = 0; i < count; ++i) {
            const AudioUnitParameterEvent& event = events[i];
            const OSStatus status =
                check_address(*inst, event.parameter, event.scope, event.element);
            if (status != noErr)
                return status;
            float value = 0.0f;
            if (event.eventType == kParameterEvent_Immediate)
                value = event.eventValues.immediate.value;
            else if (event.eventType == kParameterEvent_Ramped)
                value = event.eventValues.ramp.endValue; // a ramp jumps to its end
            else
                return static_cast<OSStatus>(kAudioUnitErr_InvalidPropertyValue);
            if (!std::isfinite(value))
                return static_cast<OSStatus>(kAudioUnitErr_InvalidParameter);
            inst->param_queue.with([&](std::vector<ScheduledValue>& queue) {
                queue.push_back({event.parameter, value});
            });
        }
        return static_cast<OSStatus>(noErr);
    });
}

OSStatus add_property_listener(void* self, AudioUnitPropertyID property,
                               AudioUnitPropertyListenerProc proc, void* user_data) noexcept {
    Instance* inst = Instance::from(self);
    if (inst == nullptr || proc == nullptr)
        return kAudio_ParamError;
    return contained([&] {
        inst->listeners.with([&](std::vector<Listener>& list) {
            list.push_back({proc, user_data, property});
        });
        return noErr;
    });
}

OSStatus remove_property_listener(void* self, AudioUnitPropertyID property,
                                  AudioUnitPropertyListenerProc proc) noexcept {
    Instance* inst = Instance::from(self);
    if (inst == nullptr)
        return kAudio_ParamError;
    return contained([&] {
        inst->listeners.with([&](std::vector<Listener>& list) {
            std::erase_if(
                list, [&](const Listener& l) { return l.property == property && l.proc == proc; });
        });
        return noErr;
    });
}

OSStatus remove_property_listener_with_user_data(void* self, AudioUnitPropertyID property,
                                                 AudioUnitPropertyListenerProc proc,
                                                 void* user_data) noexcept {
    Instance* inst = Instance::from(self);
    if (inst == nullptr)
        return kAudio_ParamError;
    return contained([&] {
        inst->listeners.with([&](std::vector<Listener>& list) {
            std::erase_if(list, [&](const Listener& l) {
                return l.property == property && l.proc == proc && l.user_data == user_data;
            });
        });
        return noErr;
    });
}

OSStatus fill_parameter_info(const Instance& inst, AudioUnitParameterID id,
                             AudioUnitParameterInfo& out) {
    const auto ref = inst.decode(id);
    if (!ref)
        return kAudioUnitErr_InvalidParameter;
    const ParamInfo& info = inst.params.at(ref->index).info();
    const std::string name = display_name(info, ref->channel);
    auto cf_name = sys::make_string(name);
    if (!cf_name)
        return kAudio_MemFullError;

    std::memset(&out, 0, sizeof out); // also clears the gaps between the fields
    const std::string_view short_name = cut_utf8(name, INFO_NAME_BYTES);
    std::memcpy(out.name, short_name.data(), short_name.size());
    out.unitName = nullptr;
    out.clumpID = 0;
    out.cfNameString = cf_name.release(); // the host releases it (CFNameRelease)
    out.unit = unit_of(info);
    out.minValue = info.min;
    out.maxValue = info.max;
    out.defaultValue = info.default_value;
    out.flags = flags_of(info);
    return noErr;
}

OSStatus fill_parameter_name(const Instance& inst, AudioUnitParameterNameInfo& record) {
    const auto ref = inst.decode(record.inID);
    if (!ref)
        return kAudioUnitErr_InvalidParameter;
    const std::string name = display_name(inst.params.at(ref->index).info(), ref->channel);
    std::string_view shown = name;
    if (record.inDesiredLength > 0)
        shown = cut_utf8(shown, static_cast<std::size_t>(record.inDesiredLength));
    auto string = sys::make_string(shown);
    if (!string)
        return kAudio_MemFullError;
    record.outName = string.release();
    return noErr;
}

OSStatus fill_string_from_value(const Instance& inst, AudioUnitParameterStringFromValue& record) {
    const auto ref = inst.decode(record.inParamID);
    if (!ref)
        return kAudioUnitErr_InvalidParameter;
    const float value =
        record.inValue != nullptr ? *record.inValue : *inst.get_value(record.inParamID);
    auto string = sys::make_string(inst.params.at(ref->index).info().display(value));
    if (!string)
        return kAudio_MemFullError;
    record.outString = string.release();
    return noErr;
}

OSStatus fill_value_from_string(const Instance& inst, AudioUnitParameterValueFromString& record) {
    const auto ref = inst.decode(record.inParamID);
    if (!ref)
        return kAudioUnitErr_InvalidParameter;
    const auto text = sys::string_from_cf(record.inString);
    if (!text)
        return kAudioUnitErr_InvalidPropertyValue;
    const auto value = parse_value(inst.params.at(ref->index).info(), *text);
    if (!value)
        return kAudioUnitErr_InvalidPropertyValue;
    record.outValue = *value;
    return noErr;
}

OSStatus copy_value_strings(const Instance& inst, AudioUnitParameterID id, CFArrayRef& out) {
    const auto ref = inst.decode(id);
    if (!ref)
        return kAudioUnitErr_InvalidParameter;
    auto array = sys::make_string_array(inst.params.at(ref->index).info().choices);
    if (!array)
        return kAudio_MemFullError;
    out = array.release();
    return noErr;
}

} // namespace velk::au
