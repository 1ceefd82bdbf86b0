// Distance from q to the segment a-b.
float segmentDist(vec3 q, vec3 a, vec3 b)
{
    vec3 pa = q - a;
    vec3 ba = b - a;
    float h = clamp(dot(pa, ba) / dot(ba, ba), 0.0, 1.0);
    return length(pa - ba * h);
}

// Distance from q to the capsule around the segment a-b; the strokes swell
// with the beat pulse.
float strokeDist(vec3 q, vec3 a, vec3 b)
{
    // @fast hoist
    return segmentDist(q, a, b) - 0.25 - halfPulse;
    // @baseline hoist
    return segmentDist(q, a, b) - 0.25 - 0.5 * beatPulse;
    // @end
}

// @fast logomin
// Squared distance from q to the segment a-b: what segmentDist takes the
// square root of (the driver's length(v) is sqrt(dot(v, v))). Every stroke
// runs along x or y with a length of 1, 2 or 4, so the projection is a clamp
// along that one axis: with a power-of-two length, ba * h is exactly that
// clamp, and the other components stay as they are. a and b are constants
// at every call, so the test between the axes is settled when compiling.
float segmentDist2(vec3 q, vec3 a, vec3 b)
{
    vec3 pa = q - a;
    if (a.y == b.y) {
        pa.x -= clamp(pa.x, min(0.0, b.x - a.x), max(0.0, b.x - a.x));
    } else {
        pa.y -= clamp(pa.y, min(0.0, b.y - a.y), max(0.0, b.y - a.y));
    }
    return dot(pa, pa);
}
// @end

// What the logo takes the minimum of. The square root and the radius come
// once, after the minimum, and give the same float: a correctly rounded
// square root and subtracting a constant never reorder values.
float logoPart(vec3 q, vec3 a, vec3 b)
{
    // @fast logomin
    return segmentDist2(q, a, b);
    // @baseline logomin
    return strokeDist(q, a, b);
    // @end
}

// The word "lomuren" in capsule strokes on a letter grid in the plane z = 0:
// letter k spans x = -10 + 3k .. -8 + 3k, baseline y = -2, x-height y = 0,
// ascender top y = 2.
float logoDist(vec3 q)
{
    float d = logoPart(q, vec3(-9.0, 2.0, 0.0), vec3(-9.0, -2.0, 0.0));   // l
    d = min(d, logoPart(q, vec3(-9.0, -2.0, 0.0), vec3(-8.0, -2.0, 0.0)));
    d = min(d, logoPart(q, vec3(-7.0, 0.0, 0.0), vec3(-5.0, 0.0, 0.0)));  // o
    d = min(d, logoPart(q, vec3(-5.0, 0.0, 0.0), vec3(-5.0, -2.0, 0.0)));
    d = min(d, logoPart(q, vec3(-5.0, -2.0, 0.0), vec3(-7.0, -2.0, 0.0)));
    d = min(d, logoPart(q, vec3(-7.0, -2.0, 0.0), vec3(-7.0, 0.0, 0.0)));
    d = min(d, logoPart(q, vec3(-4.0, -2.0, 0.0), vec3(-4.0, 0.0, 0.0))); // m
    d = min(d, logoPart(q, vec3(-4.0, 0.0, 0.0), vec3(-3.0, 0.0, 0.0)));
    d = min(d, logoPart(q, vec3(-3.0, 0.0, 0.0), vec3(-3.0, -2.0, 0.0)));
    d = min(d, logoPart(q, vec3(-3.0, 0.0, 0.0), vec3(-2.0, 0.0, 0.0)));
    d = min(d, logoPart(q, vec3(-2.0, 0.0, 0.0), vec3(-2.0, -2.0, 0.0)));
    d = min(d, logoPart(q, vec3(-1.0, 0.0, 0.0), vec3(-1.0, -2.0, 0.0))); // u
    d = min(d, logoPart(q, vec3(-1.0, -2.0, 0.0), vec3(1.0, -2.0, 0.0)));
    d = min(d, logoPart(q, vec3(1.0, -2.0, 0.0), vec3(1.0, 0.0, 0.0)));
    d = min(d, logoPart(q, vec3(2.0, 0.0, 0.0), vec3(2.0, -2.0, 0.0)));   // r
    d = min(d, logoPart(q, vec3(2.0, 0.0, 0.0), vec3(4.0, 0.0, 0.0)));
    d = min(d, logoPart(q, vec3(5.0, 0.0, 0.0), vec3(7.0, 0.0, 0.0)));    // e
    d = min(d, logoPart(q, vec3(7.0, 0.0, 0.0), vec3(7.0, -1.0, 0.0)));
    d = min(d, logoPart(q, vec3(7.0, -1.0, 0.0), vec3(5.0, -1.0, 0.0)));
    d = min(d, logoPart(q, vec3(5.0, 0.0, 0.0), vec3(5.0, -2.0, 0.0)));
    d = min(d, logoPart(q, vec3(5.0, -2.0, 0.0), vec3(7.0, -2.0, 0.0)));
    d = min(d, logoPart(q, vec3(8.0, 0.0, 0.0), vec3(8.0, -2.0, 0.0)));   // n
    d = min(d, logoPart(q, vec3(8.0, 0.0, 0.0), vec3(10.0, 0.0, 0.0)));
    d = min(d, logoPart(q, vec3(10.0, 0.0, 0.0), vec3(10.0, -2.0, 0.0)));
    // @fast logomin
    return sqrt(d) - 0.25 - 0.5 * beatPulse;
    // @baseline logomin
    return d;
    // @end
}

// Three perpendicular bars of one cell, blended where they meet. While the
// glitch is on, the cell point shakes with noise looked up at the world point.
float crossDist(vec3 q, vec3 p)
{
    // @only glitch
    if (m[0].z > 0.0) {
        q = q + 4.0 * m[0].z * (vec3(texNoise(p.xyz), texNoise(p.yzx), texNoise(p.zxy)) - 0.5);
    }
    // @end
    float dz = length(q.xy) - barRadius;
    float dy = length(q.xz) - barRadius;
    float dx = length(q.yz) - barRadius;
    return smoothMin(smoothMin(dz, dy), dx);
}

// @fast bound
// No stroke is nearer than the box around all strokes (x -9..10, y -2..2,
// z 0 in logo space) less the stroke radius; 0.01 covers rounding.
float logoBound(vec3 q)
{
    vec3 outside = max(abs(q - vec3(0.5, 0.0, 0.0)) - vec3(9.5, 2.0, 0.0), 0.0);
    return length(outside) - 0.25 - 0.5 * beatPulse - 0.01;
}
// @end

// The scene: the bent, warped lattice of crosses, whose cells grow towards
// the origin, and the logo five times enlarged in the plane z = 0. The
// finale pushes the crosses away from that plane. Returns (distance, material 0).
vec2 sceneDist(vec3 p)
{
    float period = 5.0 + m[1].z / length(p);
    // The two bend angles come from different axes on purpose, so the
    // matrix also scales; it is never normalised.
    // @target desktop
    float c = cos(0.05 * p.y);
    float s = sin(0.05 * p.z);
    // @end
    // @target es
    float c = llvmpipeSinCos(0.05 * p.y, true);
    float s = llvmpipeSinCos(0.05 * p.z, false);
    // @end
    vec3 bent = vec3(m[1].z * (mat2(c, -s, s, c) * p.xy), p.z);
    // @fast hoist
    vec3 w = mix(bent, p, blendWeight);
    // @baseline hoist
    vec3 w = mix(bent, p, 0.4 + 0.23 * sin(0.11 * m[0].x));
    // @end
    vec3 cell = mod(w, period) - 0.5 * period;
    float crosses = crossDist(cell, p);
    // @only finale
    if (m[0].y > 0.0) {
        crosses = crosses + m[0].y * 10.0 / abs(p.z);
    }
    // @end
    // Where the logo cannot be nearer, the minimum is the crosses' distance.
    // @fast bound
    if (logoBound(0.2 * w) >= crosses) return vec2(crosses, 0.0);
    // @end
    return vec2(min(logoDist(0.2 * w), crosses), 0.0);
}
