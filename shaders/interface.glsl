// The frame parameters, uploaded every frame:
//   m[0] = (time, finale, glitch, spare), m[1] = (beat, hit, warp, pulseGain).
uniform vec4 m[2];
// The 256x256 noise texture on unit 0 (linear filter, repeat wrap).
uniform sampler2D v;
// Declared for the interface's sake; nothing reads or sets it.
uniform sampler2D f;

// Values that depend on the uniforms alone, set once at the start of every
// pixel by initPixelValues() so that no scene evaluation recomputes them.
float beatPulse;
float introRamp;
float barRadius;
vec3 normalEps;
// Hoisted out of every scene evaluation: the same expressions, computed once.
// @fast hoist
float halfPulse;
float blendWeight;
// @end

// 0 up to beat a, rising linearly to 1 at beat b.
float beatRamp(float a, float b)
{
    return clamp((m[1].x - a) / (b - a), 0.0, 1.0);
}

// 1 while a <= beat < b.
float beatWindow(float a, float b)
{
    return step(a, m[1].x) * (1.0 - step(b, m[1].x));
}

// Smooth 3D value noise from one bilinear fetch: the green and red channels
// are the lower and upper z-layers, and each whole step in z shifts the
// lookup by (37, 17) texels. The bias keeps the fetch on the base level.
float texNoise(vec3 p)
{
    vec3 cell = floor(p);
    vec3 t = fract(p);
    t = t * t * (3.0 - 2.0 * t);
    vec2 uv = vec2(cell.x + 37.0 * cell.z + t.x, cell.y + 17.0 * cell.z + t.y);
    vec4 n = texture2D(v, (uv + 0.5) / 256.0, -100.0);
    return mix(n.g, n.r, t.z);
}

// Polynomial smooth minimum with the fixed band k = 0.75.
float smoothMin(float a, float b)
{
    float h = clamp(0.5 + 0.5 * (b - a) / 0.75, 0.0, 1.0);
    return mix(b, a, h) - 0.75 * h * (1.0 - h);
}

// The beat pulse rises once in the 0.4 beat after every fourth beat; the
// intro's bars carry an extra unit of radius, gone over INTRO_BARS_START_BEAT
// to INTRO_BARS_END_BEAT. Names in UPPER_CASE are the show's schedule
// (timeline/schedule.h), written in as literals when the shader is packed.
void initPixelValues()
{
    beatPulse = m[1].w * sin(3.14 * smoothstep(0.9, 1.0, fract(0.25 * m[1].x - 0.1)));
    introRamp = beatRamp(INTRO_BARS_START_BEAT, INTRO_BARS_END_BEAT);
    barRadius = 0.15 + beatPulse + (1.0 - introRamp) + m[1].y;
    normalEps = vec3(0.002, 0.0, 0.0);
    // @fast hoist
    halfPulse = 0.5 * beatPulse;
    blendWeight = 0.4 + 0.23 * sin(0.11 * m[0].x);
    // @end
}
