// The uniform array through which a program packed for live retiming reads
// the schedule's values, in VANTROP_SCHEDULE's order, instead of having them
// written in: the renderer sets it from the schedule in use before each frame.
#pragma once
inline constexpr const char* SCHEDULE_UNIFORM = "vantropSchedule";
