// The frame parameters, uploaded every frame:
//   m[0] = (time, finale, glitch, spare), m[1] = (beat, hit, warp, pulseGain).
uniform vec4 m[2];
// The 256x256 noise texture on unit 0 (linear filter, repeat wrap).
uniform sampler2D v;
// Declared for the interface's sake; nothing reads or sets it.
uniform sampler2D f;

// Tracks: values a track file keys over the music (vantrop-render tracks
// prints them). Without one, each is its default, written in as a literal.
// The tint of every lit surface, red, green and blue.
uniform float tintRed; // @track 1.1
uniform float tintGreen; // @track 1.0
uniform float tintBlue; // @track 1.0
// The highlight's colour at grazing angles (its reflectance head-on).
uniform float highlightRed; // @track 0.4
uniform float highlightGreen; // @track 0.3
uniform float highlightBlue; // @track 0.2
// How bright the highlight is.
uniform float highlightStrength; // @track 16.25
// How far the fog lets a surface be seen at full light, units.
uniform float fogDistance; // @track 4.0
// How much light a flash adds.
uniform float flashStrength; // @track 2.0
// How strong the glitch's noise is.
uniform float glitchAmount; // @track 0.5
// The camera's height above the lattice's axis, units.
uniform float cameraHeight; // @track 0.4
// How hard the camera shakes in the second shake (the first shakes at 1).
uniform float secondShake; // @track 0.75
// How far the camera's aim circles around its path.
uniform float cameraSway; // @track 0.1

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

// @target es
// A browser computes the noise and sin/cos in its own way. Outside the glitch
// that moves a pixel by a level at most; in the glitch the cells shake with
// the noise at every step of the march, and a last-bit difference there ends
// the ray on another surface. So the web's shader computes them as the
// desktop's software renderer (Mesa's llvmpipe), whose pictures are the
// show's reference, does.

// llvmpipe's lerp of 8-bit values: an 8-bit weight, rounded to 8 bits.
vec4 lerp8(vec4 a, vec4 b, float weight)
{
    return a + floor(((b - a) * weight + 128.0) / 256.0);
}

// Round to the nearest integer, to even on a tie (the CPU's conversion).
vec2 roundToEven(vec2 x)
{
    vec2 nearest = floor(x + 0.5);
    return nearest - step(0.5, nearest - x) * mod(nearest, 2.0);
}

// One texel of the noise as bytes (0..255), wrapped as the texture repeats.
vec4 texelAt(vec2 texel)
{
    return floor(texture2D(v, (mod(texel, 256.0) + 0.5) / 256.0) * 255.0 + 0.5);
}

// The noise texture's bilinear filter as llvmpipe computes it: the
// coordinate in 1/256 texel, less half a texel, then two lerps across and
// one down.
vec4 noiseTexture(vec2 coord)
{
    vec2 subtexel = roundToEven(coord * 65536.0) - 128.0;
    vec2 texel = floor(subtexel / 256.0);
    vec2 weight = subtexel - 256.0 * texel;
    vec4 lower = lerp8(texelAt(texel), texelAt(texel + vec2(1.0, 0.0)), weight.x);
    vec4 upper = lerp8(texelAt(texel + vec2(0.0, 1.0)), texelAt(texel + 1.0), weight.x);
    return lerp8(lower, upper, weight.y) / 255.0;
}

// sin(a), or cos(a) with wantCos, as llvmpipe computes them (Cephes): the
// octant of |a|, a reduced by pi/4 in three parts, then the cosine or the
// sine polynomial of the reduced angle, and the octant's sign.
float llvmpipeSinCos(float a, bool wantCos)
{
    float x = abs(a);
    float octant = floor(x * 1.27323954473516) + 1.0;
    float evenOctant = octant - mod(octant, 2.0);
    float selector = wantCos ? evenOctant - 2.0 : evenOctant;
    bool negative = wantCos ? mod(floor(selector / 4.0), 2.0) == 0.0
                            : (a < 0.0) != (mod(floor(octant / 4.0), 2.0) == 1.0);
    float r = ((x + evenOctant * -0.78515625) + evenOctant * -2.4187564849853515625e-4)
        + evenOctant * -3.77489497744594108e-8;
    float z = r * r;
    float cosine = ((z * 2.443315711809948e-5 + -1.388731625493765e-3) * z + 4.166664568298827e-2) * z * z;
    cosine = (cosine - z * 0.5) + 1.0;
    float sine = ((z * -1.9515295891e-4 + 8.3321608736e-3) * z + -1.6666654611e-1) * z;
    sine = sine * r + r;
    float value = mod(floor(selector / 2.0), 2.0) == 0.0 ? sine : cosine;
    return clamp(negative ? -value : value, -1.0, 1.0);
}
// @end

// Smooth 3D value noise from one bilinear fetch: the green and red channels
// are the lower and upper z-layers, and each whole step in z shifts the
// lookup by (37, 17) texels. The bias keeps the fetch on the base level.
float texNoise(vec3 p)
{
    vec3 cell = floor(p);
    vec3 t = fract(p);
    t = t * t * (3.0 - 2.0 * t);
    vec2 uv = vec2(cell.x + 37.0 * cell.z + t.x, cell.y + 17.0 * cell.z + t.y);
    // @target desktop
    vec4 n = texture2D(v, (uv + 0.5) / 256.0, -100.0);
    // @end
    // @target es
    vec4 n = noiseTexture((uv + 0.5) / 256.0);
    // @end
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
    // @target desktop
    beatPulse = m[1].w * sin(3.14 * smoothstep(0.9, 1.0, fract(0.25 * m[1].x - 0.1)));
    // @end
    // @target es
    beatPulse = m[1].w * llvmpipeSinCos(3.14 * smoothstep(0.9, 1.0, fract(0.25 * m[1].x - 0.1)), false);
    // @end
    introRamp = beatRamp(INTRO_BARS_START_BEAT, INTRO_BARS_END_BEAT);
    barRadius = 0.15 + beatPulse + (1.0 - introRamp) + m[1].y;
    normalEps = vec3(0.002, 0.0, 0.0);
    // @fast hoist
    halfPulse = 0.5 * beatPulse;
    // @target desktop
    blendWeight = 0.4 + 0.23 * sin(0.11 * m[0].x);
    // @end
    // @target es
    blendWeight = 0.4 + 0.23 * llvmpipeSinCos(0.11 * m[0].x, false);
    // @end
    // @end
}
