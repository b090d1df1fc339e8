// Karmont's drop: a colour grade over the cylinder field, as a post pass
// (E 2) that reads the frame drawn so far (iChannel3).
//
// The brightness of each pixel is looked up in a dusk gradient (deep
// indigo, violet, orange, cream) and mixed with its own colour, so the
// white fog of the field becomes an evening sky; the rim darkens, and on
// every kick (input 0) the red and blue part a little, from the middle
// out. Three reads of iChannel3 a pixel.
uniform sampler2D iChannel3;
uniform vec3 iResolution;
uniform float iInput[10];

vec3 Dusk(float light) {
    vec3 c = mix(vec3(0.06, 0.03, 0.2), vec3(0.5, 0.14, 0.5), smoothstep(0.0, 0.4, light));
    c = mix(c, vec3(1.0, 0.52, 0.22), smoothstep(0.35, 0.7, light));
    return mix(c, vec3(1.0, 0.93, 0.8), smoothstep(0.7, 1.0, light));
}

void main() {
    vec2 uv = gl_FragCoord.xy / iResolution.xy;
    vec2 fromMiddle = uv - 0.5;
    vec2 split = fromMiddle * 0.025 * iInput[0];
    vec3 c = vec3(texture2D(iChannel3, uv + split).r, texture2D(iChannel3, uv).g,
                  texture2D(iChannel3, uv - split).b);

    float light = dot(c, vec3(0.299, 0.587, 0.114));
    // The field is bright (white fog, pale sides): its upper range is
    // spread over the whole gradient.
    light = clamp((light - 0.75) * 2.2 + 0.6, 0.0, 1.0);
    c = mix(c, Dusk(light), 0.75);
    c *= 1.0 - 1.2 * dot(fromMiddle, fromMiddle); // the rim darkens
    gl_FragColor = vec4(c, 1.0);
}
