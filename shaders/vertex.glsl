// Passes the full-screen rectangle through: its corners arrive in clip
// coordinates as the only attribute, so the linker places it at location 0,
// where the fixed-function vertex position feeds it.
attribute vec4 v;

void main()
{
    gl_Position = v;
}
