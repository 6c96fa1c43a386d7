# The public headers' plain comments read as Doxygen comments, so that the headers keep the
# project's comment style: a comment block documents what follows it, a comment behind a member
# documents that member. Each header opens with "#pragma once", a blank line and the block that
# describes the file: that block becomes the file's documentation (lines keep their numbers).
# Markers for clang-format are no documentation.
1s|^#pragma once$||
2s|^$|/// \\file|
s|^[[:space:]]*// clang-format .*$||
s|^\([[:space:]]*\)// |\1/// |
s|^\([[:space:]]*\)//$|\1///|
s|\([;,]\)[[:space:]]*// |\1 ///< |
