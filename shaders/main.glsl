// One pixel: camera ray, march, shading of a hit (a miss stays black), then
// the colour pipeline: gamma, glitch overlay, contrast, vignette and fades.
void main()
{
    // @fast fade
    // Outside the fades every pixel ends black, whatever the march finds.
    if (m[1].x <= FADE_IN_START_BEAT || m[1].x >= FADE_OUT_END_BEAT) {
        gl_FragColor = vec4(0.0);
        return;
    }
    // @end
    initPixelValues();
    cameraRay();
    vec4 res = march(rayOrigin, rayDir);
    vec3 hitPos = rayOrigin + res.x * rayDir;
    vec3 colour = vec3(0.0);
    if (res.z >= 0.0) {
        vec3 normal = sceneNormal(hitPos - 0.01 * rayDir);
        colour = shade(res, rayDir, normal) * vec3(tintRed, tintGreen, tintBlue);
    }
    colour = pow(clamp(colour, 0.0, 1.0), vec3(0.4));
    // @only glitch
    if (m[0].z > 0.0) {
        colour += glitchOverlay();
    }
    // @end
    colour = pow(colour, vec3(1.1))
        * sqrt(32.0 * screenUv.x * screenUv.y * (1.0 - screenUv.x) * (1.0 - screenUv.y));
    // The fade-in starts at FADE_IN_START_BEAT, which is beat 0.
    colour *= smoothstep(0.0, 1.0, FADE_IN_RATE * m[1].x);
    colour *= 1.0 - smoothstep(0.0, 1.0, FADE_OUT_RATE * (m[1].x - FADE_OUT_START_BEAT));
    gl_FragColor = vec4(colour, 0.0);
}
