// The pixel's camera ray, set by cameraRay() at the start of every pixel.
vec2 screenUv;
vec2 viewPos;
vec3 rayOrigin;
vec3 rayDir;

// The camera flies along +z at one unit per second of music, 90 units behind
// the origin at time 0, looking 91 units ahead at a slowly circling target;
// noise shakes it in the two shake windows of the schedule. SHOW_RESOLUTION is the
// build's screen size, compiled in as a literal.
void cameraRay()
{
    screenUv = gl_FragCoord.xy / SHOW_RESOLUTION;
    viewPos = 2.0 * screenUv - 1.0;
    viewPos.x *= 1.77778;
    rayOrigin = vec3(0.4, cameraHeight, m[0].x - 90.0);
    float shakeAmount = beatWindow(FIRST_SHAKE_START_BEAT, FIRST_SHAKE_END_BEAT)
        + secondShake * beatWindow(SECOND_SHAKE_START_BEAT, SECOND_SHAKE_END_BEAT);
    rayOrigin.xy += (vec2(texNoise(2.0 * rayOrigin), texNoise(2.0 * rayOrigin.zyx)) - 0.5) * shakeAmount;
    // @target desktop
    vec3 lookTarget = vec3(cameraSway * sin(m[0].x), 0.1 + cameraSway * cos(m[0].x), m[0].x + 1.0);
    // @end
    // @target es
    vec3 lookTarget = vec3(cameraSway * llvmpipeSinCos(m[0].x, false), 0.1 + cameraSway * llvmpipeSinCos(m[0].x, true), m[0].x + 1.0);
    // @end
    vec3 camForward = normalize(lookTarget - rayOrigin);
    // Not normalised: both are within 1e-4 of unit length.
    vec3 camRight = cross(vec3(0.0, 1.0, 0.0), camForward);
    vec3 camUp = cross(camForward, camRight);
    rayDir = normalize(camForward + 1.5 * (viewPos.x * camRight + viewPos.y * camUp));
}

// Sphere trace with a fixed bound of 80 steps. Returns (travelled distance,
// evaluations, material or -1 for a miss beyond 100, last distance). A ray
// that runs out of steps short of 100 counts as a hit where it stopped.
vec4 march(vec3 origin, vec3 direction)
{
    float t = 0.0;
    int count = 0;
    vec2 last = vec2(0.1, 0.0);
    for (int i = 0; i < 80; i++) {
        if (abs(last.x) < normalEps.x || t > 100.0) {
            // Converged or gone: every later iteration would do nothing too.
            // @fast march
            break;
            // @baseline march
            continue;
            // @end
        }
        last = sceneDist(origin + direction * t);
        t += last.x;
        count++;
    }
    float material = t > 100.0 ? -1.0 : last.y;
    return vec4(t, float(count), material, last.x);
}

// Unit normal by central differences of the distance on each axis.
vec3 sceneNormal(vec3 position)
{
    vec3 e = normalEps;
    return normalize(vec3(
        sceneDist(position + e.xyy).x - sceneDist(position - e.xyy).x,
        sceneDist(position + e.yxy).x - sceneDist(position - e.yxy).x,
        sceneDist(position + e.yyx).x - sceneDist(position - e.yyx).x));
}
