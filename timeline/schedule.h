// The show's schedule: every beat at which something starts or ends, named
// once. The timeline's curves, the scene shader (the shader packer writes
// these values into the GLSL in place of the names), the tools, the
// placeholder track and the tests all read these names; change a beat here
// and everything moves together.
#pragma once
#include <cstdint>

// X(NAME, value): beats unless the name says otherwise. The shader packer
// writes each value as the shortest GLSL float literal that reads back
// exactly (10.0, 0.125).
// clang-format off
#define VANTROP_SCHEDULE(X)                                                                         \
    X(FADE_IN_START_BEAT, 0.0f)        /* the picture fades in from black ...           */         \
    X(FADE_IN_RATE, 0.125f)            /* ... over 8 beats (per beat)                   */         \
    X(INTRO_BARS_START_BEAT, 10.0f)    /* the intro's thick bars start to thin ...      */         \
    X(INTRO_BARS_END_BEAT, 11.0f)      /* ... and are thin from here on                 */         \
    X(FIRST_SHAKE_START_BEAT, 19.0f)   /* the camera shakes for one beat                */         \
    X(FIRST_SHAKE_END_BEAT, 20.0f)                                                                 \
    X(FIRST_HIT_BEAT, 21.0f)           /* hit pulses on this beat and every 4th after   */         \
    X(LAST_HIT_BEAT, 33.0f)                                                                        \
    X(FLASHES_START_BEAT, 37.0f)       /* flashes run through the scene, both included  */         \
    X(FLASHES_END_BEAT, 52.0f)                                                                     \
    X(PULSE_GAIN_STEP_BEAT, 52.0f)     /* the beat pulse doubles after this beat        */         \
    X(WARP_DIP_START_BEAT, 54.0f)      /* the lattice shrinks ...                       */         \
    X(WARP_DIP_END_BEAT, 60.0f)        /* ... and snaps back                            */         \
    X(WARP_SWELL_START_BEAT, 64.0f)    /* the lattice swells ...                        */         \
    X(GLITCH_START_BEAT, 66.0f)        /* the noise glitch rises ...                    */         \
    X(SECOND_SHAKE_START_BEAT, 68.0f)  /* the camera shakes again ...                   */         \
    X(FINALE_START_BEAT, 80.0f)        /* the finale eases in over 4 beats ...          */         \
    X(WARP_SWELL_END_BEAT, 80.0f)      /* ... as the swell ends                         */         \
    X(FINALE_FULL_BEAT, 84.0f)         /* ... fully on; the glitch and the shake end    */         \
    X(GLITCH_END_BEAT, 84.0f)                                                                      \
    X(SECOND_SHAKE_END_BEAT, 84.0f)                                                                \
    X(FADE_OUT_START_BEAT, 97.0f)      /* the picture fades out ...                     */         \
    X(FADE_OUT_RATE, 0.25f)            /* ... over 4 beats (per beat) ...               */         \
    X(FADE_OUT_END_BEAT, 101.0f)       /* ... and is black from here on                 */
// clang-format on

#define VANTROP_SCHEDULE_CONSTANT(name, value) inline constexpr float name = value;
VANTROP_SCHEDULE(VANTROP_SCHEDULE_CONSTANT)
#undef VANTROP_SCHEDULE_CONSTANT

// Beats from one hit pulse to the next, and the hit beats in order.
inline constexpr float HIT_SPACING_BEATS = 4.0f;
inline constexpr float HIT_BEATS[] = {FIRST_HIT_BEAT, FIRST_HIT_BEAT + HIT_SPACING_BEATS,
                                      FIRST_HIT_BEAT + 2 * HIT_SPACING_BEATS, LAST_HIT_BEAT};
static_assert(FIRST_HIT_BEAT + 3 * HIT_SPACING_BEATS == LAST_HIT_BEAT, "four hits, evenly spaced");
static_assert(FADE_IN_RATE * 8.0f == 1.0f && FADE_OUT_RATE * (FADE_OUT_END_BEAT - FADE_OUT_START_BEAT) == 1.0f,
              "the fades' rates match their lengths");

// Positions that the benchmark times by default, one in every part of the
// show, milliseconds: fade-in, intro, hits, flashes, warp dip, swell and
// glitch, finale, fade-out.
inline constexpr uint32_t BENCH_POSITIONS_MS[] = {3000, 6000, 14700, 30000, 38000, 50000, 56000, 66000};
