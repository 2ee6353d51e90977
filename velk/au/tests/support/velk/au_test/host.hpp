#pragma once

// A small Audio Unit host for tests: loads a module's factory with dlopen and reaches a
// unit only the way a host does, through the interface record, `Lookup` and the
// selectors' fixed prototypes.

#include <AudioToolbox/AudioToolbox.h>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <dlfcn.h>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace velk::au_test {

/// A four-character code: its four bytes read as a big-endian number.
constexpr OSType fourcc(const char (&code)[5]) noexcept {
    return static_cast<OSType>(static_cast<unsigned char>(code[0])) << 24 |
           static_cast<OSType>(static_cast<unsigned char>(code[1])) << 16 |
           static_cast<OSType>(static_cast<unsigned char>(code[2])) << 8 |
           static_cast<OSType>(static_cast<unsigned char>(code[3]));
}

/// The factory `symbol` of the module at `path`. The module stays loaded for the rest of
/// the process, as a host keeps a component's code while it may still be called.
inline AudioComponentFactoryFunction load_factory(const char* path, const char* symbol) {
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        ADD_FAILURE() << "cannot load " << path << ": " << dlerror();
        return nullptr;
    }
    void* entry = dlsym(module, symbol);
    if (entry == nullptr) {
        ADD_FAILURE() << "no " << symbol << " in " << path;
    }
    return reinterpret_cast<AudioComponentFactoryFunction>(entry);
}

/// One unit made by a factory and opened with its own handle; closed when it goes.
class Unit {
public:
    Unit(AudioComponentFactoryFunction factory, const AudioComponentDescription& desc)
        : iface_(factory != nullptr ? factory(&desc) : nullptr) {
        if (iface_ != nullptr) {
            EXPECT_EQ(iface_->Open(iface_, handle()), noErr);
        } else {
            ADD_FAILURE() << "the factory made no unit";
        }
    }
    ~Unit() {
        if (iface_ != nullptr)
            iface_->Close(iface_);
    }
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;

    AudioComponentPlugInInterface* iface() const noexcept { return iface_; }
    AudioUnit handle() const noexcept { return reinterpret_cast<AudioUnit>(iface_); }

    /// The entry point of `selector` as its fixed prototype `Proc`.
    template <class Proc>
    Proc entry(SInt16 selector) const {
        const AudioComponentMethod method = iface_->Lookup(selector);
        EXPECT_NE(method, nullptr) << "selector " << selector;
        return reinterpret_cast<Proc>(method);
    }

    // Life cycle.
    OSStatus initialize() const {
        return entry<AudioUnitInitializeProc>(kAudioUnitInitializeSelect)(iface_);
    }
    OSStatus uninitialize() const {
        return entry<AudioUnitUninitializeProc>(kAudioUnitUninitializeSelect)(iface_);
    }
    OSStatus reset() const {
        return entry<AudioUnitResetProc>(kAudioUnitResetSelect)(iface_, kAudioUnitScope_Global, 0);
    }

    // Properties.
    OSStatus property_info(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                           UInt32* size, Boolean* writable) const {
        return entry<AudioUnitGetPropertyInfoProc>(kAudioUnitGetPropertyInfoSelect)(
            iface_, id, scope, element, size, writable);
    }
    OSStatus get_property(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                          void* data, UInt32* size) const {
        return entry<AudioUnitGetPropertyProc>(kAudioUnitGetPropertySelect)(iface_, id, scope,
                                                                            element, data, size);
    }
    OSStatus set_property(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                          const void* data, UInt32 size) const {
        return entry<AudioUnitSetPropertyProc>(kAudioUnitSetPropertySelect)(iface_, id, scope,
                                                                            element, data, size);
    }
    /// Reads a property of exactly the size of `T` into `out`.
    template <class T>
    OSStatus get(AudioUnitPropertyID id, T& out, AudioUnitScope scope = kAudioUnitScope_Global,
                 AudioUnitElement element = 0) const {
        UInt32 size = sizeof(T);
        const OSStatus status = get_property(id, scope, element, &out, &size);
        if (status == noErr) {
            EXPECT_EQ(size, sizeof(T));
        }
        return status;
    }
    template <class T>
    OSStatus set(AudioUnitPropertyID id, const T& value,
                 AudioUnitScope scope = kAudioUnitScope_Global,
                 AudioUnitElement element = 0) const {
        return set_property(id, scope, element, &value, sizeof(T));
    }

    // Parameters.
    OSStatus get_parameter(AudioUnitParameterID id, AudioUnitParameterValue* out,
                           AudioUnitScope scope = kAudioUnitScope_Global,
                           AudioUnitElement element = 0) const {
        return entry<AudioUnitGetParameterProc>(kAudioUnitGetParameterSelect)(iface_, id, scope,
                                                                              element, out);
    }
    /// The value of a parameter that must be readable.
    float parameter(AudioUnitParameterID id) const {
        float value = std::numeric_limits<float>::quiet_NaN();
        EXPECT_EQ(get_parameter(id, &value), noErr) << "parameter " << id;
        return value;
    }
    OSStatus set_parameter(AudioUnitParameterID id, AudioUnitParameterValue value,
                           AudioUnitScope scope = kAudioUnitScope_Global,
                           AudioUnitElement element = 0) const {
        return entry<AudioUnitSetParameterProc>(kAudioUnitSetParameterSelect)(iface_, id, scope,
                                                                              element, value, 0);
    }
    OSStatus schedule(std::span<const AudioUnitParameterEvent> events) const {
        return entry<AudioUnitScheduleParametersProc>(kAudioUnitScheduleParametersSelect)(
            iface_, events.data(), static_cast<UInt32>(events.size()));
    }

    // Rendering.
    OSStatus render(AudioBufferList* buffers, UInt32 frames,
                    AudioUnitRenderActionFlags* flags = nullptr,
                    const AudioTimeStamp* time_stamp = nullptr, UInt32 bus = 0) const {
        return entry<AudioUnitRenderProc>(kAudioUnitRenderSelect)(iface_, flags, time_stamp, bus,
                                                                  frames, buffers);
    }
    OSStatus add_notify(AURenderCallback proc, void* ref) const {
        return entry<AudioUnitAddRenderNotifyProc>(kAudioUnitAddRenderNotifySelect)(iface_, proc,
                                                                                    ref);
    }
    OSStatus remove_notify(AURenderCallback proc, void* ref) const {
        return entry<AudioUnitRemoveRenderNotifyProc>(kAudioUnitRemoveRenderNotifySelect)(
            iface_, proc, ref);
    }
    OSStatus midi(UInt32 status, UInt32 data1, UInt32 data2, UInt32 offset) const {
        return entry<MusicDeviceMIDIEventProc>(kMusicDeviceMIDIEventSelect)(iface_, status, data1,
                                                                            data2, offset);
    }
    OSStatus sysex(const UInt8* data, UInt32 length) const {
        return entry<MusicDeviceSysExProc>(kMusicDeviceSysExSelect)(iface_, data, length);
    }

    // Listeners.
    OSStatus add_listener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                          void* user_data) const {
        return entry<AudioUnitAddPropertyListenerProc>(kAudioUnitAddPropertyListenerSelect)(
            iface_, id, proc, user_data);
    }
    OSStatus remove_listener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc) const {
        return entry<AudioUnitRemovePropertyListenerProc>(kAudioUnitRemovePropertyListenerSelect)(
            iface_, id, proc);
    }
    OSStatus remove_listener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                             void* user_data) const {
        return entry<AudioUnitRemovePropertyListenerWithUserDataProc>(
            kAudioUnitRemovePropertyListenerWithUserDataSelect)(iface_, id, proc, user_data);
    }

    // Configuration shortcuts.
    OSStatus set_format(AudioUnitScope scope, UInt32 channels, Float64 rate = 44100.0) const {
        AudioStreamBasicDescription format{};
        format.mSampleRate = rate;
        format.mFormatID = kAudioFormatLinearPCM;
        format.mFormatFlags =
            kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
        format.mBytesPerPacket = 4;
        format.mFramesPerPacket = 1;
        format.mBytesPerFrame = 4;
        format.mChannelsPerFrame = channels;
        format.mBitsPerChannel = 32;
        return set(kAudioUnitProperty_StreamFormat, format, scope);
    }
    OSStatus set_input(AURenderCallback proc, void* ref) const {
        return set(kAudioUnitProperty_SetRenderCallback, AURenderCallbackStruct{proc, ref},
                   kAudioUnitScope_Input);
    }
    OSStatus connect(AudioUnit source, UInt32 bus = 0) const {
        return set(kAudioUnitProperty_MakeConnection, AudioUnitConnection{source, bus, 0},
                   kAudioUnitScope_Input);
    }
    OSStatus last_render_error() const {
        OSStatus error = 1;
        EXPECT_EQ(get(kAudioUnitProperty_LastRenderError, error), noErr);
        return error;
    }

private:
    AudioComponentPlugInInterface* iface_;
};

/// Audio for `channels` channels of `frames` samples and a buffer list pointing at it.
class Buffers {
public:
    Buffers(UInt32 channels, UInt32 frames, float fill = 0.0f)
        : frames_(frames),
          audio_(channels, std::vector<float>(frames, fill)),
          // 8 bytes of count and padding, then 16 per buffer; never less than the record.
          raw_(std::max<std::size_t>(3, 1 + 2 * std::size_t{channels}), 0) {
        list()->mNumberBuffers = channels;
        attach();
    }

    AudioBufferList* list() noexcept { return reinterpret_cast<AudioBufferList*>(raw_.data()); }
    /// Buffer `ch`, reached past the record's one declared element.
    AudioBuffer& buffer(std::size_t ch) noexcept {
        AudioBuffer* first = list()->mBuffers;
        return first[ch];
    }
    UInt32 channels() const noexcept { return static_cast<UInt32>(audio_.size()); }

    /// Points every buffer at its own audio, with the full byte size.
    void attach() {
        for (std::size_t ch = 0; ch < audio_.size(); ++ch)
            buffer(ch) = AudioBuffer{1, frames_ * 4, audio_[ch].data()};
    }
    /// Leaves every data pointer null, for the unit to fill in.
    void detach() {
        for (std::size_t ch = 0; ch < audio_.size(); ++ch)
            buffer(ch) = AudioBuffer{0, 0, nullptr};
    }
    /// What buffer `ch` points at now, `frames` samples of it.
    std::span<const float> out(std::size_t ch, UInt32 frames) noexcept {
        return {static_cast<const float*>(buffer(ch).mData), frames};
    }
    std::vector<float>& audio(std::size_t ch) noexcept { return audio_[ch]; }

private:
    UInt32 frames_;
    std::vector<std::vector<float>> audio_;
    std::vector<std::uint64_t> raw_;
};

/// An input callback: writes `signal[ch]` from a running position, or `level[ch]`
/// (the last level for channels past the list) when there is no signal, and records
/// how it was called.
struct Source {
    std::vector<float> level{0.5f};
    std::vector<std::vector<float>> signal;
    std::size_t position = 0;
    OSStatus status = noErr;
    int calls = 0;
    UInt32 bus = 99;
    UInt32 frames = 0;

    static OSStatus render(void* ref, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                           UInt32 bus, UInt32 frames, AudioBufferList* data) {
        auto& self = *static_cast<Source*>(ref);
        ++self.calls;
        self.bus = bus;
        self.frames = frames;
        if (self.status != noErr)
            return self.status;
        AudioBuffer* buffers = data->mBuffers;
        for (UInt32 ch = 0; ch < data->mNumberBuffers; ++ch) {
            auto* out = static_cast<float*>(buffers[ch].mData);
            for (UInt32 i = 0; i < frames; ++i) {
                if (self.signal.empty()) {
                    out[i] = self.level[std::min<std::size_t>(ch, self.level.size() - 1)];
                } else {
                    const auto& s = self.signal[std::min<std::size_t>(ch, self.signal.size() - 1)];
                    out[i] = self.position + i < s.size() ? s[self.position + i] : 0.0f;
                }
            }
        }
        self.position += frames;
        return noErr;
    }
};

/// A scheduled change to `value` at the start of the next buffer.
inline AudioUnitParameterEvent immediate(AudioUnitParameterID id, float value,
                                         AudioUnitScope scope = kAudioUnitScope_Global,
                                         AudioUnitElement element = 0) {
    AudioUnitParameterEvent event{};
    event.scope = scope;
    event.element = element;
    event.parameter = id;
    event.eventType = kParameterEvent_Immediate;
    event.eventValues.immediate.bufferOffset = 0;
    event.eventValues.immediate.value = value;
    return event;
}

/// A scheduled ramp from `start` to `end` over `frames` frames from `offset`.
inline AudioUnitParameterEvent ramped(AudioUnitParameterID id, float start, float end,
                                      UInt32 frames, SInt32 offset = 0) {
    AudioUnitParameterEvent event{};
    event.scope = kAudioUnitScope_Global;
    event.parameter = id;
    event.eventType = kParameterEvent_Ramped;
    event.eventValues.ramp.startBufferOffset = offset;
    event.eventValues.ramp.durationInFrames = frames;
    event.eventValues.ramp.startValue = start;
    event.eventValues.ramp.endValue = end;
    return event;
}

/// The text of a CoreFoundation string, or "<null>".
inline std::string text_of(CFStringRef string) {
    if (string == nullptr)
        return "<null>";
    char buffer[1024] = {};
    EXPECT_TRUE(CFStringGetCString(string, buffer, sizeof buffer, kCFStringEncodingUTF8));
    return buffer;
}

/// A new string (+1) the caller releases.
inline CFStringRef make_string(const std::string& text) {
    return CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(text.data()),
                                   static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, 0);
}

/// Decibels of a linear amplitude.
inline double db(double amplitude) {
    return 20.0 * std::log10(amplitude);
}

} // namespace velk::au_test
