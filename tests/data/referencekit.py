"""What the reader families' Python generators share: the reference picture
beside a test file, and the file's line in expect.txt."""


def write_pam(name, width, height, rgba):
    """X.pam beside the file X.ext: RGBA bytes, rows top first."""
    with open(name[:name.rindex(".")] + ".pam", "wb") as f:
        f.write(b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (width, height))
        f.write(bytes(rgba))


def case_writer(expect):
    """write(name, data, outcome, width, height, rgba): the file, and its line
    in expect: "exact" with its reference picture, or "refuse <outcome>"."""
    def write(name, data, outcome, width=0, height=0, rgba=None):
        with open(name, "wb") as f:
            f.write(data)
        if outcome == "exact":
            write_pam(name, width, height, rgba)
            expect.write(name + " exact\n")
        else:
            expect.write("%s refuse %s\n" % (name, outcome))
    return write
