// Schlick's approximation of the reflectance between directions l and h.
vec3 fresnelSchlick(vec3 f0, vec3 l, vec3 h)
{
    return f0 + (1.0 - f0) * pow(1.0 - clamp(dot(l, h), 0.0, 1.0), 5.0);
}

// One smooth pulse per period: up from 0 to 1 over [0, 1], down to 0 over [1, 2].
float flashWave(float x, float period)
{
    float w = x - period * floor(x / period);
    return smoothstep(0.0, 1.0, w) * (1.0 - smoothstep(1.0, 2.0, w));
}

// Index of the multiple of 5 nearest to c.
float flashCell(float c)
{
    return floor(0.2 * c + 0.5);
}

// Flashes from FLASHES_START_BEAT to FLASHES_END_BEAT, both included: three travelling pulses laid
// over q, combined like overlapping lights. The shader feeds it the march
// result (distance, evaluations, material), so the flashes sweep through
// depth and step-count bands rather than through space.
float flashField(vec3 q)
{
    if (m[1].x < FLASHES_START_BEAT || m[1].x > FLASHES_END_BEAT) {
        return 0.0;
    }
    float a = flashWave(q.x + 150.0 * flashCell(q.y) + 150.0 * flashCell(q.z) + 413.1 + 16.0 * m[1].x, 500.0);
    float b = flashWave(q.y + 150.0 * flashCell(q.x) + 150.0 * flashCell(q.z) + 117.1 + 24.0 * m[1].x, 605.0);
    // flashCell(q.y) twice, not q.x and q.y: the show's own choice, kept on purpose.
    float c = flashWave(q.z + 50.0 * flashCell(q.y) + 50.0 * flashCell(q.y) + 253.1 + 32.0 * m[1].x, 300.0);
    return 1.0 - (1.0 - a) * (1.0 - b) * (1.0 - c);
}

// A hit lit by a head light: grey diffuse, a warm highlight, fog that the
// finale lifts, and the flashes added after the fog.
vec3 shade(vec4 res, vec3 dir, vec3 normal)
{
    float fogFactor = smoothstep(0.0, 1.0, fogDistance / res.x);
    float litFactor = mix(fogFactor, 1.0, m[0].y);
    float flash = flashField(res.xyz) * fogFactor;
    vec3 lightDir = normalize(-dir);
    float diffuse = clamp(dot(lightDir, normal), 0.0, 1.0);
    vec3 halfDir = normalize(lightDir - dir);
    vec3 colour = vec3((0.1 + 0.3 * m[0].y) * (diffuse + 0.1));
    colour += fresnelSchlick(vec3(highlightRed, highlightGreen, highlightBlue), lightDir, halfDir) * highlightStrength
        * pow(clamp(dot(normal, halfDir), 0.0, 1.0), 128.0) * diffuse;
    colour *= litFactor;
    colour += flashStrength * flash;
    return colour;
}

// Noise laid over the whole picture while the glitch is on: a new pattern
// and strength every 1/11 second, 64 noise cells per unit of viewPos.
vec3 glitchOverlay()
{
    float glitchSeed = floor(11.0 * m[0].x);
    float glitchStrength = m[0].z * texNoise(vec3(glitchSeed));
    vec3 overlayPos = vec3(64.0 * viewPos + 16.0 * glitchSeed, glitchSeed);
    return glitchAmount * glitchStrength * vec3(texNoise(overlayPos.xyz), texNoise(overlayPos.yxz), texNoise(overlayPos.zxy));
}
