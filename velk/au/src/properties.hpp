#pragma once

#include <vector>

#include "instance.hpp"

// The contents of the properties that describe parameters and carry presets, and the
// stream-format and channel rules. Filled by `get_property` and applied by
// `set_property`. Main thread: may allocate; strings, arrays and dictionaries handed
// back are new and belong to the caller.
namespace velk::au {

/// ParameterInfo for a valid id: names, unit, range, default and flags.
OSStatus fill_parameter_info(const Instance& inst, AudioUnitParameterID id,
                             AudioUnitParameterInfo& out);
/// ParameterIDName: the display name cut to the desired byte length.
OSStatus fill_parameter_name(const Instance& inst, AudioUnitParameterNameInfo& record);
/// ParameterStringFromValue: the text of the given or the current value.
OSStatus fill_string_from_value(const Instance& inst, AudioUnitParameterStringFromValue& record);
/// ParameterValueFromString: the value a text names, not clamped.
OSStatus fill_value_from_string(const Instance& inst, AudioUnitParameterValueFromString& record);
/// ParameterValueStrings: the choice names of a valid id of a `Choice` parameter.
OSStatus copy_value_strings(const Instance& inst, AudioUnitParameterID id, CFArrayRef& out);

/// ClassInfo, get: a new dictionary with the identity, the preset name and the state.
OSStatus copy_class_info(Instance& inst, CFPropertyListRef& out);
/// ClassInfo, set: checks the identity, takes the name, then loads the state.
OSStatus apply_class_info(Instance& inst, CFPropertyListRef dictionary);
/// PresentPreset, get: the number and a new string of the name.
OSStatus copy_present_preset(Instance& inst, AUPreset& out);
/// PresentPreset, set: the number, and the name when it converts.
void apply_present_preset(Instance& inst, const AUPreset& preset);

/// The stream format reported for `channels` channels at the current sample rate.
AudioStreamBasicDescription stream_format(const Instance& inst, std::uint32_t channels) noexcept;
/// Whether the unit can take `format`: non-interleaved 32-bit float PCM, a channel count
/// within the bounds and a finite sample rate above 0.
bool accept_format(const Instance& inst, const AudioStreamBasicDescription& format) noexcept;
/// The supported (input, output) channel pairs; (-1, -1) means any matching count.
std::vector<AUChannelInfo> channel_infos(const Instance& inst);

} // namespace velk::au
