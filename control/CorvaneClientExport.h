#pragma once
/* Marks the C functions the control module exports; everything else in the
 * module stays hidden. */

#ifdef __GI_SCANNER__
#define CORVANE_CLIENT_API
#else
#define CORVANE_CLIENT_API __attribute__((visibility("default")))
#endif
