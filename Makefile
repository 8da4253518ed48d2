# Front door: `make demo` and `make test` are all a newcomer needs.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

# Debian packages the build, the tests and the benchmarks need.
PACKAGES := build-essential cmake pkg-config \
	libopencv-dev libcereal-dev rapidjson-dev \
	libprotobuf-dev protobuf-compiler libdnnl-dev libsnappy-dev \
	libgtest-dev libgmock-dev libbenchmark-dev \
	slurm-wlm munge

# Recipe line: installs those of the Debian packages $(1) that are missing,
# and runs apt-get update only when some are.
define install_missing
missing=$$(for p in $(1); do \
	dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed$$' || echo $$p; \
done); \
if [ -n "$$missing" ]; then \
	echo "Installing:" $$missing; \
	apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
fi
endef

.PHONY: setup build test test-sanitize clean

setup:
	@$(call install_missing,$(PACKAGES))

# setup first, also under make -j.
build: setup
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The whole suite again, built with AddressSanitizer and UBSan in its own folder.
# Every process a test starts inherits these settings, so quarrow and
# quarrow-batch runs are checked too; a finding ends the process with an error.
SANITIZE_DIR ?= build-asan
SANITIZE_ENV := \
	ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:check_initialization_order=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizer/leak_suppressions.txt:print_suppressions=0 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

test-sanitize: setup
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Release -DQUARROW_SANITIZE=ON -DQUARROW_BUILD_BENCH=OFF
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && $(SANITIZE_ENV) ctest --output-on-failure -j $(JOBS) --label-exclude not_under_sanitizer

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR)

# The demo and the model-building targets live in their own fragments.
-include demo.mk
-include models/models.mk
