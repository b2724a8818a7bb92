// The scalar emulation of the 16-byte vector: runs on any CPU, and is the
// baseline of builds that force it.
#define QARVO_ISA_NAMESPACE isa_scalar

#include "any.hpp"
#include "n.hpp"
#include "variants.hpp"

namespace qarvo::detail {

const SearchRoutines scalar_routines{
    Backend::scalar,     &find_one<Scalar>,     &find_two<Scalar>,
    &find_three<Scalar>, &find_n<Scalar>,       &find_any<Scalar>,
    &rfind_any<Scalar>,  &find_not_any<Scalar>, &rfind_not_any<Scalar>,
};

}  // namespace qarvo::detail
