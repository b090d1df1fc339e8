// Karmont's last theme: a tiled tunnel that surges forward on every kick.
//
// The forward speed is a steady drift plus the kick's envelope (input 0,
// which jumps to 1 on a kick and falls linearly to 0 over its fade). The
// distance travelled is that speed's integral: over one kick the envelope
// e adds surge * (1 - e * e), and every earlier kick a whole surge, which
// floor(iBeat) counts (a kick on every beat of this section). The two
// parts meet at each kick, so the travel never jumps.
//
// Inputs: 0 the kick, 1 the open hats (the rings light up), 2 the snare
// (a pink cast). The named track tunnel_twist (karmont.tracks) winds the
// tiles around the axis. GLSL 1.20; about 30 operations a pixel, no
// texture reads.
uniform vec3 iResolution;
uniform float iTime;
uniform float iBeat;
uniform float iInput[10];
uniform float tunnel_twist;

const float Tau = 6.2831853;

void main() {
    vec2 p = (gl_FragCoord.xy - 0.5 * iResolution.xy) / iResolution.y;
    // The far end sways slowly around the middle of the picture.
    p -= 0.06 * vec2(sin(iTime * 0.7), cos(iTime * 0.9)) * (1.0 - length(p));
    float radius = max(length(p), 0.002);
    float around = atan(p.y, p.x) / Tau; // -0.5 to 0.5 around the axis

    float kick = iInput[0];
    float travel = 0.6 * iTime + 0.8 * (floor(iBeat + 0.0001) + 1.0 - kick * kick);
    float depth = 0.25 / radius + travel;
    // Sixteen tiles around (so the seam of atan never shows), twisting;
    // every other tile of a checker is darker, each one bevelled.
    vec2 cell = vec2((around + (0.03 + tunnel_twist) * depth) * 16.0, depth * 3.0);
    vec2 f = abs(fract(cell) - 0.5);
    float edge = max(f.x, f.y);
    float tile = smoothstep(0.5, 0.42, edge) * (1.0 - 0.8 * edge * edge);
    float checker = mod(floor(cell.x) + floor(cell.y), 2.0);
    float ring = pow(0.5 + 0.5 * cos(depth * Tau * 0.5), 16.0);

    vec3 hue = 0.5 + 0.5 * cos(Tau * (vec3(0.0, 0.33, 0.67) + 0.05 * depth + 0.1 * checker));
    vec3 color = hue * tile * (0.35 + 0.25 * checker + 0.4 * kick);
    color += ring * vec3(1.0, 0.55, 0.85) * (0.2 + 0.9 * iInput[1]);
    color = mix(color, color * vec3(1.3, 0.6, 1.1), 0.6 * clamp(iInput[2], 0.0, 1.0));
    // Far away is dark (and hides the tiles where they shrink below a pixel).
    color *= smoothstep(0.03, 0.45, radius);
    color += (0.15 + 0.5 * kick) * vec3(1.0, 0.75, 0.55) * exp(-radius * 10.0);
    gl_FragColor = vec4(color, 1.0);
}
