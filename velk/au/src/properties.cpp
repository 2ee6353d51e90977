// Properties: the one table that decides which exist, in which scopes and elements,
// with which size and whether they can be written; what each returns and accepts; and
// the stream-format and channel rules.

#include "properties.hpp"

#include <array>
#include <cmath>
#include <cstring>

#include "entry.hpp"

namespace velk::au {
namespace {

/// Scopes as bits, so a table row can list several.
constexpr std::uint8_t GLOBAL = 1u << kAudioUnitScope_Global;
constexpr std::uint8_t INPUT = 1u << kAudioUnitScope_Input;
constexpr std::uint8_t OUTPUT = 1u << kAudioUnitScope_Output;
constexpr std::uint8_t IN_OUT = INPUT | OUTPUT;

std::uint8_t scope_bit(AudioUnitScope scope) noexcept {
    return scope <= kAudioUnitScope_Output ? static_cast<std::uint8_t>(1u << scope) : 0;
}

/// Which elements a property accepts: only 0, any, or a valid parameter id.
enum class Element : std::uint8_t { Zero, Any, ParameterId };

struct Row {
    AudioUnitPropertyID id = 0;
    std::uint8_t scopes = 0;
    /// An instrument has no input: it answers the Input scope with an invalid element.
    bool no_instrument_input = false;
    Element element = Element::Zero;
    /// Bytes of the property's value; 0 where it depends on the instance.
    UInt32 size = 0;
    bool writable = false;
};

template <class T>
constexpr UInt32 size_of = static_cast<UInt32>(sizeof(T));

constexpr auto ROWS = std::to_array<Row>({
    {kAudioUnitProperty_ClassInfo, GLOBAL, false, Element::Zero, size_of<CFPropertyListRef>, true},
    {kAudioUnitProperty_MakeConnection, INPUT, true, Element::Zero, size_of<AudioUnitConnection>,
     true},
    {kAudioUnitProperty_SampleRate, IN_OUT, true, Element::Zero, size_of<Float64>, true},
    {kAudioUnitProperty_ParameterList, GLOBAL | IN_OUT, false, Element::Any, 0, false},
    {kAudioUnitProperty_ParameterInfo, GLOBAL, false, Element::ParameterId,
     size_of<AudioUnitParameterInfo>, false},
    {kAudioUnitProperty_StreamFormat, IN_OUT, true, Element::Zero,
     size_of<AudioStreamBasicDescription>, true},
    {kAudioUnitProperty_ElementCount, GLOBAL | IN_OUT, false, Element::Any, size_of<UInt32>, false},
    {kAudioUnitProperty_Latency, GLOBAL, false, Element::Zero, size_of<Float64>, false},
    {kAudioUnitProperty_SupportedNumChannels, GLOBAL, false, Element::Zero, 0, false},
    {kAudioUnitProperty_MaximumFramesPerSlice, GLOBAL, false, Element::Zero, size_of<UInt32>, true},
    {kAudioUnitProperty_ParameterValueStrings, GLOBAL, false, Element::ParameterId,
     size_of<CFArrayRef>, false},
    {kAudioUnitProperty_TailTime, GLOBAL, false, Element::Zero, size_of<Float64>, false},
    {kAudioUnitProperty_BypassEffect, GLOBAL, false, Element::Zero, size_of<UInt32>, true},
    {kAudioUnitProperty_LastRenderError, GLOBAL, false, Element::Zero, size_of<OSStatus>, true},
    {kAudioUnitProperty_SetRenderCallback, INPUT, true, Element::Zero,
     size_of<AURenderCallbackStruct>, true},
    {kAudioUnitProperty_HostCallbacks, GLOBAL, false, Element::Zero, size_of<HostCallbackInfo>,
     true},
    {kAudioUnitProperty_InPlaceProcessing, GLOBAL, false, Element::Zero, size_of<UInt32>, true},
    {kAudioUnitProperty_ParameterStringFromValue, GLOBAL, false, Element::Zero,
     size_of<AudioUnitParameterStringFromValue>, false},
    {kAudioUnitProperty_ParameterIDName, GLOBAL, false, Element::Zero,
     size_of<AudioUnitParameterNameInfo>, false},
    {kAudioUnitProperty_PresentPreset, GLOBAL, false, Element::Zero, size_of<AUPreset>, true},
    {kAudioUnitProperty_ParameterValueFromString, GLOBAL, false, Element::Zero,
     size_of<AudioUnitParameterValueFromString>, false},
    {kAudioUnitProperty_ShouldAllocateBuffer, IN_OUT, true, Element::Zero, size_of<UInt32>, true},
});

struct PropertyInfo {
    OSStatus status = noErr;
    UInt32 size = 0;
    bool writable = false;
};

/// The table's answer for one address: an error, or the size and whether it can be
/// written. A wrong scope wins over a wrong element. `get_property_info`, `get_property`
/// and `set_property` all start here, so they agree on sizes and refusals.
PropertyInfo property_info(const Instance& inst, AudioUnitPropertyID id, AudioUnitScope scope,
                           AudioUnitElement element) {
    const Row* row = nullptr;
    for (const Row& r : ROWS) {
        if (r.id == id)
            row = &r;
    }
    if (row == nullptr)
        return {kAudioUnitErr_InvalidProperty};
    if ((row->scopes & scope_bit(scope)) == 0)
        return {kAudioUnitErr_InvalidScope};
    if (scope == kAudioUnitScope_Input && row->no_instrument_input && inst.is_instrument)
        return {kAudioUnitErr_InvalidElement};
    switch (row->element) {
    case Element::Zero:
        if (element != 0)
            return {kAudioUnitErr_InvalidElement};
        break;
    case Element::ParameterId: {
        const auto ref = inst.decode(element);
        if (!ref)
            return {kAudioUnitErr_InvalidParameter};
        if (id == kAudioUnitProperty_ParameterValueStrings &&
            inst.params.at(ref->index).info().kind != Kind::Choice)
            return {kAudioUnitErr_InvalidProperty};
        break;
    }
    case Element::Any:
        break;
    }
    UInt32 size = row->size;
    if (id == kAudioUnitProperty_ParameterList) {
        size = scope == kAudioUnitScope_Global
                   ? static_cast<UInt32>(inst.param_id_count() * sizeof(AudioUnitParameterID))
                   : 0;
    } else if (id == kAudioUnitProperty_SupportedNumChannels) {
        size = static_cast<UInt32>(channel_infos(inst).size() * sizeof(AUChannelInfo));
    }
    return {noErr, size, row->writable};
}

/// A record read from host memory, which need not be aligned.
template <class T>
T take(const void* data) noexcept {
    T value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

/// A record written to host memory.
template <class T>
void put(void* data, const T& value) noexcept {
    std::memcpy(data, &value, sizeof value);
}

/// Seconds of `samples` at the current sample rate.
Float64 seconds(const Instance& inst, std::uint32_t samples) noexcept {
    return static_cast<Float64>(samples) / inst.sample_rate.get();
}

/// Fills `data`, which holds at least the property's size, with the property's value.
/// Some properties also read their input fields from `data`.
OSStatus read_property(Instance& inst, AudioUnitPropertyID id, AudioUnitScope scope,
                       AudioUnitElement element, void* data) {
    switch (id) {
    case kAudioUnitProperty_ClassInfo: {
        CFPropertyListRef dictionary = nullptr;
        const OSStatus status = copy_class_info(inst, dictionary);
        if (status == noErr)
            put(data, dictionary);
        return status;
    }
    case kAudioUnitProperty_MakeConnection: {
        AudioUnitConnection record{};
        inst.connection.with([&](const std::optional<Connection>& c) {
            if (c)
                record = AudioUnitConnection{c->source, c->bus, 0};
        });
        put(data, record);
        return noErr;
    }
    case kAudioUnitProperty_SampleRate:
        put(data, inst.sample_rate.get());
        return noErr;
    case kAudioUnitProperty_ParameterList:
        if (scope == kAudioUnitScope_Global) {
            const std::vector<AudioUnitParameterID> ids = inst.param_ids();
            std::memcpy(data, ids.data(), ids.size() * sizeof(AudioUnitParameterID));
        }
        return noErr;
    case kAudioUnitProperty_ParameterInfo: {
        AudioUnitParameterInfo record;
        const OSStatus status = fill_parameter_info(inst, element, record);
        if (status == noErr)
            put(data, record);
        return status;
    }
    case kAudioUnitProperty_StreamFormat:
        put(data, stream_format(inst, scope == kAudioUnitScope_Input ? inst.input_channels.get()
                                                                     : inst.output_channels.get()));
        return noErr;
    case kAudioUnitProperty_ElementCount:
        put(data, UInt32{scope == kAudioUnitScope_Input && inst.is_instrument ? 0u : 1u});
        return noErr;
    case kAudioUnitProperty_Latency:
        put(data, seconds(inst, inst.latency.get()));
        return noErr;
    case kAudioUnitProperty_SupportedNumChannels: {
        const std::vector<AUChannelInfo> infos = channel_infos(inst);
        std::memcpy(data, infos.data(), infos.size() * sizeof(AUChannelInfo));
        return noErr;
    }
    case kAudioUnitProperty_MaximumFramesPerSlice:
        put(data, UInt32{inst.max_frames.get()});
        return noErr;
    case kAudioUnitProperty_ParameterValueStrings: {
        CFArrayRef strings = nullptr;
        const OSStatus status = copy_value_strings(inst, element, strings);
        if (status == noErr)
            put(data, strings);
        return status;
    }
    case kAudioUnitProperty_TailTime:
        put(data, seconds(inst, inst.tail.get()));
        return noErr;
    case kAudioUnitProperty_BypassEffect:
        put(data, UInt32{inst.bypass.get() ? 1u : 0u});
        return noErr;
    case kAudioUnitProperty_LastRenderError:
        put(data, OSStatus{inst.last_render_error.get()});
        return noErr;
    case kAudioUnitProperty_SetRenderCallback: {
        AURenderCallbackStruct record{};
        inst.render_callback.with([&](const std::optional<RenderInput>& r) {
            if (r)
                record = AURenderCallbackStruct{r->proc, r->ref};
        });
        put(data, record);
        return noErr;
    }
    case kAudioUnitProperty_HostCallbacks: {
        HostCallbackInfo record{};
        inst.host_callbacks.with([&](const std::optional<HostCallbackInfo>& h) {
            if (h)
                record = *h;
        });
        put(data, record);
        return noErr;
    }
    case kAudioUnitProperty_InPlaceProcessing:
        put(data, UInt32{inst.is_instrument ? 0u : 1u});
        return noErr;
    case kAudioUnitProperty_ParameterStringFromValue: {
        auto record = take<AudioUnitParameterStringFromValue>(data);
        const OSStatus status = fill_string_from_value(inst, record);
        if (status == noErr)
            put(data, record);
        return status;
    }
    case kAudioUnitProperty_ParameterIDName: {
        auto record = take<AudioUnitParameterNameInfo>(data);
        const OSStatus status = fill_parameter_name(inst, record);
        if (status == noErr)
            put(data, record);
        return status;
    }
    case kAudioUnitProperty_PresentPreset: {
        AUPreset record{};
        const OSStatus status = copy_present_preset(inst, record);
        if (status == noErr)
            put(data, record);
        return status;
    }
    case kAudioUnitProperty_ParameterValueFromString: {
        auto record = take<AudioUnitParameterValueFromString>(data);
        const OSStatus status = fill_value_from_string(inst, record);
        if (status == noErr)
            put(data, record);
        return status;
    }
    case kAudioUnitProperty_ShouldAllocateBuffer:
        put(data, UInt32{1});
        return noErr;
    default:
        return kAudioUnitErr_InvalidProperty;
    }
}

/// Applies a value of exactly the property's size, then calls the listeners of what
/// changed. A refused value changes nothing and calls no listener.
OSStatus write_property(Instance& inst, AudioUnitPropertyID id, AudioUnitScope scope,
                        AudioUnitElement element, const void* data) {
    const bool initialized = inst.initialized.load(std::memory_order_acquire);
    switch (id) {
    case kAudioUnitProperty_ClassInfo: {
        const OSStatus status = apply_class_info(inst, take<CFPropertyListRef>(data));
        if (status != noErr)
            return status;
        inst.notify(id, kAudioUnitScope_Global, 0);
        return noErr;
    }
    case kAudioUnitProperty_MakeConnection: {
        const auto record = take<AudioUnitConnection>(data);
        std::optional<Connection> connection;
        if (record.sourceAudioUnit != nullptr)
            connection = Connection{record.sourceAudioUnit, record.sourceOutputNumber};
        // One lock at a time: the connection, then the input callback it replaces.
        inst.connection.with([&](std::optional<Connection>& c) { c = connection; });
        if (connection)
            inst.render_callback.with([](std::optional<RenderInput>& r) { r.reset(); });
        inst.notify(id, scope, element);
        return noErr;
    }
    case kAudioUnitProperty_SampleRate: {
        if (initialized)
            return kAudioUnitErr_Initialized;
        const auto rate = take<Float64>(data);
        if (!std::isfinite(rate) || rate <= 0.0)
            return kAudioUnitErr_InvalidPropertyValue;
        inst.sample_rate.set(rate);
        inst.notify(kAudioUnitProperty_SampleRate, kAudioUnitScope_Input, 0);
        inst.notify(kAudioUnitProperty_SampleRate, kAudioUnitScope_Output, 0);
        inst.notify(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0);
        inst.notify(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0);
        return noErr;
    }
    case kAudioUnitProperty_StreamFormat: {
        if (initialized)
            return kAudioUnitErr_Initialized;
        const auto format = take<AudioStreamBasicDescription>(data);
        if (!accept_format(inst, format))
            return kAudioUnitErr_FormatNotSupported;
        const std::uint32_t n = format.mChannelsPerFrame;
        (scope == kAudioUnitScope_Input ? inst.input_channels : inst.output_channels).set(n);
        inst.sample_rate.set(format.mSampleRate);
        bool ids_changed = false;
        if (scope == kAudioUnitScope_Output && n != inst.params.channels()) {
            inst.params.set_channels(n);
            ids_changed = true;
        }
        inst.notify(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0);
        inst.notify(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0);
        if (ids_changed)
            inst.notify(kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0);
        return noErr;
    }
    case kAudioUnitProperty_MaximumFramesPerSlice: {
        if (initialized)
            return kAudioUnitErr_Initialized;
        const auto frames = take<UInt32>(data);
        if (frames < 1 || frames > MAX_FRAMES_LIMIT)
            return kAudioUnitErr_InvalidPropertyValue;
        inst.max_frames.set(frames);
        inst.notify(id, scope, element);
        return noErr;
    }
    case kAudioUnitProperty_BypassEffect:
        inst.bypass.set(take<UInt32>(data) != 0);
        inst.notify(id, scope, element);
        return noErr;
    case kAudioUnitProperty_LastRenderError:
        inst.last_render_error.set(take<OSStatus>(data));
        inst.notify(id, scope, element);
        return noErr;
    case kAudioUnitProperty_SetRenderCallback: {
        const auto record = take<AURenderCallbackStruct>(data);
        std::optional<RenderInput> input;
        if (record.inputProc != nullptr)
            input = RenderInput{record.inputProc, record.inputProcRefCon};
        inst.render_callback.with([&](std::optional<RenderInput>& r) { r = input; });
        if (input)
            inst.connection.with([](std::optional<Connection>& c) { c.reset(); });
        inst.notify(id, scope, element);
        return noErr;
    }
    case kAudioUnitProperty_HostCallbacks: {
        const auto record = take<HostCallbackInfo>(data);
        std::optional<HostCallbackInfo> callbacks;
        // Without tempo and transport there is nothing the render path would ask.
        if (record.beatAndTempoProc != nullptr || record.transportStateProc != nullptr)
            callbacks = record;
        inst.host_callbacks.with([&](std::optional<HostCallbackInfo>& h) { h = callbacks; });
        inst.notify(id, scope, element);
        return noErr;
    }
    case kAudioUnitProperty_PresentPreset:
        apply_present_preset(inst, take<AUPreset>(data));
        inst.notify(id, scope, element);
        return noErr;
    case kAudioUnitProperty_InPlaceProcessing:
    case kAudioUnitProperty_ShouldAllocateBuffer:
        // Accepted and ignored: rendering is always in place into the host's buffers.
        inst.notify(id, scope, element);
        return noErr;
    default:
        return kAudioUnitErr_PropertyNotWritable;
    }
}

} // namespace

AudioStreamBasicDescription stream_format(const Instance& inst, std::uint32_t channels) noexcept {
    AudioStreamBasicDescription format{};
    format.mSampleRate = inst.sample_rate.get();
    format.mFormatID = kAudioFormatLinearPCM;
    format.mFormatFlags =
        kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    format.mBytesPerPacket = sizeof(float);
    format.mFramesPerPacket = 1;
    format.mBytesPerFrame = sizeof(float);
    format.mChannelsPerFrame = channels;
    format.mBitsPerChannel = 32;
    return format;
}

bool accept_format(const Instance& inst, const AudioStreamBasicDescription& format) noexcept {
    constexpr AudioFormatFlags required =
        kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    return format.mFormatID == kAudioFormatLinearPCM &&
           (format.mFormatFlags & required) == required && format.mBitsPerChannel == 32 &&
           format.mBytesPerFrame == sizeof(float) && format.mBytesPerPacket == sizeof(float) &&
           format.mFramesPerPacket == 1 && format.mChannelsPerFrame >= inst.channel_min &&
           format.mChannelsPerFrame <= inst.channel_max && std::isfinite(format.mSampleRate) &&
           format.mSampleRate > 0.0;
}

std::vector<AUChannelInfo> channel_infos(const Instance& inst) {
    std::vector<AUChannelInfo> infos;
    const auto pair = [](std::uint32_t in, std::uint32_t out) {
        return AUChannelInfo{static_cast<SInt16>(in), static_cast<SInt16>(out)};
    };
    if (inst.is_instrument) {
        const std::uint32_t last = std::min<std::uint32_t>(inst.channel_max, 16);
        for (std::uint32_t n = inst.channel_min; n <= last; ++n)
            infos.push_back(pair(0, n));
    } else if (inst.channel_min == 1 && inst.channel_max >= MAX_CHANNELS) {
        infos.push_back(AUChannelInfo{-1, -1});
    } else {
        for (std::uint32_t n = inst.channel_min; n <= inst.channel_max; ++n)
            infos.push_back(pair(n, n));
    }
    return infos;
}

OSStatus get_property_info(void* self, AudioUnitPropertyID property, AudioUnitScope scope,
                           AudioUnitElement element, UInt32* size_out,
                           Boolean* writable_out) noexcept {
    const Instance* inst = Instance::from(self);
    if (inst == nullptr)
        return kAudio_ParamError;
    return contained([&] {
        const PropertyInfo info = property_info(*inst, property, scope, element);
        if (info.status != noErr)
            return info.status;
        if (size_out != nullptr)
            *size_out = info.size;
        if (writable_out != nullptr)
            *writable_out = info.writable ? 1 : 0;
        return static_cast<OSStatus>(noErr);
    });
}

OSStatus get_property(void* self, AudioUnitPropertyID property, AudioUnitScope scope,
                      AudioUnitElement element, void* data, UInt32* size_in_out) noexcept {
    Instance* inst = Instance::from(self);
    if (inst == nullptr || size_in_out == nullptr)
        return kAudio_ParamError;
    return contained([&] {
        const PropertyInfo info = property_info(*inst, property, scope, element);
        if (info.status != noErr)
            return info.status;
        if (data == nullptr) {
            *size_in_out = info.size;
            return static_cast<OSStatus>(noErr);
        }
        if (*size_in_out < info.size)
            return static_cast<OSStatus>(kAudioUnitErr_InvalidPropertyValue);
        const OSStatus status = read_property(*inst, property, scope, element, data);
        if (status == noErr)
            *size_in_out = info.size;
        return status;
    });
}

OSStatus set_property(void* self, AudioUnitPropertyID property, AudioUnitScope scope,
                      AudioUnitElement element, const void* data, UInt32 size) noexcept {
    Instance* inst = Instance::from(self);
    if (inst == nullptr)
        return kAudio_ParamError;
    return contained([&] {
        const PropertyInfo info = property_info(*inst, property, scope, element);
        if (info.status != noErr)
            return info.status;
        if (!info.writable)
            return static_cast<OSStatus>(kAudioUnitErr_PropertyNotWritable);
        if (data == nullptr || size != info.size)
            return static_cast<OSStatus>(kAudioUnitErr_InvalidPropertyValue);
        return write_property(*inst, property, scope, element, data);
    });
}

} // namespace velk::au
