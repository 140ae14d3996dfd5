// SPDX-License-Identifier: GPL-2.0
/*
 * qrxvxd-attack: tries, as an unprivileged member of group quorix, every way
 * the kernel driver could give that group more than the features: ring 0
 * through SYSCALL, another device's ports, changes through a read-only
 * descriptor, write allocation or write combining over memory, the kernel's
 * own ranges and multiplier. Each attempt must fail with its errno and leave
 * the registers as they were. Then a fuzzer sends random requests from
 * several processes. Inside the virtual K6 test machine only (static, 32-bit;
 * builds with glibc and with musl).
 *
 *   qrxvxd-attack RAM_MB [FUZZ_REQUESTS]   RAM_MB: what request 8 must report
 *   qrxvxd-attack lockdown                 locks the kernel down (integrity): no change passes
 *
 * It starts as root, gives /dev/qrxvxd to group quorix (gid 1000) as the udev
 * rule does, and drops to uid 1000 in that group before the first request.
 */
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cpuid.h>

#include "check.h"

#include "../qrxvxd_rules.h"

#define MEMBER 1000
#define FUZZ_PROCESSES 4
#define COUNT(a) (sizeof(a) / sizeof((a)[0]))

static int rw = -1, ro = -1;

static uint64_t read_msr(uint32_t msr)
{
	uint32_t out[2] = { 0, 0 };

	if (send_request(ro, QRXVXD_READ_MSR, &msr, 4, out, 8))
		check(0, "ReadMsr", "%08X refused", msr);
	return ((uint64_t)out[0] << 32) | out[1];
}

static int write_msr(int fd, uint32_t msr, uint64_t value)
{
	uint32_t in[3] = { msr, (uint32_t)(value >> 32), (uint32_t)value };

	return send_request(fd, QRXVXD_WRITE_MSR, in, 12, NULL, 0);
}

static int port_output(int fd, uint32_t port, uint32_t value)
{
	uint32_t in[2] = { port, value };

	return send_request(fd, QRXVXD_PORT_OUTPUT, in, 8, NULL, 0);
}

static const uint32_t msrs[] = { QRXVXD_MSR_EFER, QRXVXD_MSR_WHCR, QRXVXD_MSR_UWCCR,
				 QRXVXD_MSR_EPMR, QRXVXD_MSR_PSOR };

struct snapshot {
	uint64_t msr[COUNT(msrs)];
	uint32_t cr0;
};

static struct snapshot snap(void)
{
	struct snapshot s;
	size_t i;

	for (i = 0; i < COUNT(msrs); i++)
		s.msr[i] = read_msr(msrs[i]);
	s.cr0 = 0;
	send_request(ro, QRXVXD_READ_CR0, NULL, 0, &s.cr0, 4);
	return s;
}

static int same(const struct snapshot *a, const struct snapshot *b)
{
	return !memcmp(a->msr, b->msr, sizeof(a->msr)) && a->cr0 == b->cr0;
}

/* An attempt that must fail with want and change nothing. */
static void refused(int err, int want, const struct snapshot *before, const char *what)
{
	struct snapshot after = snap();

	check(err == want && same(before, &after), what, "%s (expected %s)%s", errname(err),
	      errname(want), same(before, &after) ? "" : ", registers changed");
}

static void become_member(void)
{
	gid_t group = MEMBER;

	if (chown(QRXVXD_DEVICE_PATH, 0, MEMBER) || chmod(QRXVXD_DEVICE_PATH, 0660) ||
	    setgroups(1, &group) || setgid(MEMBER) || setuid(MEMBER)) {
		perror("qrxvxd-attack: cannot become uid 1000 in group quorix");
		exit(1);
	}
	check(getuid() == MEMBER && geteuid() == MEMBER && getegid() == MEMBER && setuid(0),
	      "running as uid 1000, group quorix, and no way back to root", NULL);
	rw = open(QRXVXD_DEVICE_PATH, O_RDWR | O_CLOEXEC);
	ro = open(QRXVXD_DEVICE_PATH, O_RDONLY | O_CLOEXEC);
	check(rw >= 0 && ro >= 0, "the group opens /dev/qrxvxd for writing and for reading", NULL);
	if (rw < 0 || ro < 0)
		exit(1);
}

static struct qrxvxd_machine machine(void)
{
	struct qrxvxd_machine m;
	int err;

	memset(&m, 0xA5, sizeof(m));
	err = send_request(ro, QRXVXD_MACHINE, NULL, 0, &m, sizeof(m));
	check(!err && !m.reserved && m.window_count <= 4, "request 8 on a read-only descriptor",
	      "%s, %u MiB, flags %X, %u windows", errname(err), m.ram_top_mb, m.flags,
	      m.window_count);
	return m;
}

/* SYSCALL with EFER.SCE clear is an invalid opcode: SIGILL, never ring 0. */
static void check_syscall_traps(void)
{
	int status = 0;
	pid_t pid = fork();

	if (pid == 0) {
		__asm__ volatile(".byte 0x0f, 0x05" ::: "memory");
		_exit(0);
	}
	waitpid(pid, &status, 0);
	check(WIFSIGNALED(status) && WTERMSIG(status) == SIGILL, "SYSCALL still raises SIGILL",
	      "status %#x", status);
}

/* 1: EFER's bits other than 1-3 are never the caller's. */
static void attack_efer(void)
{
	static const uint64_t values[] = { 0x1, 0xffffffffffffffffull, 0x501, 0x800, 0x10,
					   0xf, 0x4000 };
	uint64_t before = read_msr(QRXVXD_MSR_EFER), after;
	char what[64];
	size_t i;
	int err;

	for (i = 0; i < COUNT(values); i++) {
		err = write_msr(rw, QRXVXD_MSR_EFER, values[i]);
		after = read_msr(QRXVXD_MSR_EFER);
		snprintf(what, sizeof(what), "EFER %llX keeps all but bits 1-3",
			 (unsigned long long)values[i]);
		check(!err && (after & ~0xeull) == (before & ~0xeull) && !(after & 1), what,
		      "%s, EFER %llX", errname(err), (unsigned long long)after);
		check_syscall_traps();
	}
	write_msr(rw, QRXVXD_MSR_EFER, before);
}

/* 2: the power-management block lives at FFF0h, output goes only to FFF8h. */
static void attack_ports(const struct qrxvxd_machine *m)
{
	static const uint32_t bases[] = { 0x0000, 0x0060, 0x0080, 0x0170, 0x01f0,
					  0x03f0, 0x0cf0, 0xffe0, 0x1230 };
	static const uint32_t ports[] = { 0x80,  0x1f0, 0x1f8, 0x3f5, 0x3f8,  0x60,
					  0x64,  0xcf8, 0xcfc, 0xfff0, 0xfffc, 0x1fff8,
					  0xfffffff8 };
	struct snapshot s = snap();
	char what[64];
	size_t i;
	int err;

	for (i = 0; i < COUNT(bases); i++) {
		snprintf(what, sizeof(what), "EPMR enabled at %04X", bases[i]);
		refused(write_msr(rw, QRXVXD_MSR_EPMR, bases[i] | 1), EPERM, &s, what);
	}
	for (i = 0; i < COUNT(ports); i++) {
		snprintf(what, sizeof(what), "output to port %X", ports[i]);
		refused(port_output(rw, ports[i], 0xffffffff), EPERM, &s, what);
	}
	err = write_msr(rw, QRXVXD_MSR_EPMR, QRXVXD_PM_BASE | 1);
	check(!err, "EPMR enabled at FFF0", "%s", errname(err));
	write_msr(rw, QRXVXD_MSR_EPMR, s.msr[3]);
	/* No change bits: the multiplier stays; only where no cpufreq driver holds it. */
	err = port_output(rw, QRXVXD_PM_PORT, 0);
	check(err == ((m->flags & QRXVXD_CPUFREQ) ? EBUSY : 0), "output to FFF8",
	      "%s, cpufreq %s", errname(err), (m->flags & QRXVXD_CPUFREQ) ? "present" : "absent");
}

/* 3: changes need a descriptor opened for writing; reads do not. */
static void attack_read_only(void)
{
	uint32_t efer[3] = { QRXVXD_MSR_EFER, 0, 0 }, on = 1, port[2] = { QRXVXD_PM_PORT, 0 };
	uint32_t interval = 10, out[12];
	struct snapshot s = snap();

	refused(send_request(ro, QRXVXD_WRITE_MSR, efer, 12, NULL, 0), EBADF, &s, "WriteMsr read-only");
	refused(send_request(ro, QRXVXD_SET_L1_CACHE, &on, 4, NULL, 0), EBADF, &s,
		"SetL1Cache read-only");
	refused(send_request(ro, QRXVXD_SET_L2_CACHE, &on, 4, NULL, 0), EBADF, &s,
		"SetL2Cache read-only");
	refused(send_request(ro, QRXVXD_PORT_OUTPUT, port, 8, NULL, 0), EBADF, &s, "Out read-only");
	check(!send_request(ro, QRXVXD_READ_MSR, efer, 4, out, 8) &&
		      !send_request(ro, QRXVXD_MEASURE_CLOCK, &interval, 4, out, 8) &&
		      !send_request(ro, QRXVXD_READ_CR0, NULL, 0, out, 4) &&
		      !send_request(ro, QRXVXD_MACHINE, NULL, 0, out, 48),
	      "requests 1, 3, 4 and 8 on a read-only descriptor", NULL);
}

/* 4: write allocation only over installed memory, write combining never over it. */
static void attack_memory(const struct qrxvxd_machine *m)
{
	static const struct {
		uint64_t uwccr;
		const char *what;
	} ranges[] = {
		{ 0x000000000001ffe2ull, "write-combined range 0 at 0, 1 MB" },
		{ 0x0001ffe200000000ull, "write-combined range 1 at 0, 1 MB" },
		{ 0x0000000000000002ull, "write-combined range over all 4 GB" },
		{ 0x00000000e0003ffeull, "write-combined range at E0000000 whose mask takes in 0" },
		{ 0x000000000101ffe2ull, "write-combined range at 16 MB" },
		{ 0x000000000009fffeull, "write-combined range at 512 KB" },
	};
	unsigned int eax = 0, ebx, ecx, edx, limit;
	struct qrxvxd_whcr_layout layout;
	struct snapshot s = snap();
	uint64_t whcr;
	size_t i;
	int err;

	__get_cpuid(1, &eax, &ebx, &ecx, &edx);
	if (qrxvxd_whcr_layout_of((eax >> 4) & 15, eax & 15, &layout)) {
		check(0, "WHCR layout", "CPUID %08X", eax);
		return;
	}
	limit = (m->ram_top_mb / 4 + 1) << layout.limit_shift;
	refused(write_msr(rw, QRXVXD_MSR_WHCR, limit), ERANGE, &s,
		"write allocation 4 MB beyond the installed memory");
	refused(write_msr(rw, QRXVXD_MSR_WHCR, layout.limit_mask), ERANGE, &s,
		"write allocation up to the layout's maximum");
	if (!(m->flags & QRXVXD_HOLE_IS_RAM))
		refused(write_msr(rw, QRXVXD_MSR_WHCR, layout.hole_bit), ERANGE, &s,
			"write allocation over the 15-16 MB hole");
	whcr = (uint64_t)(m->ram_top_mb / 4) << layout.limit_shift;
	err = write_msr(rw, QRXVXD_MSR_WHCR, whcr);
	check(!err, "write allocation up to the installed memory", "%s", errname(err));
	write_msr(rw, QRXVXD_MSR_WHCR, s.msr[1]);

	for (i = 0; i < COUNT(ranges); i++)
		refused(write_msr(rw, QRXVXD_MSR_UWCCR, ranges[i].uwccr), ERANGE, &s,
			ranges[i].what);
	err = write_msr(rw, QRXVXD_MSR_UWCCR, 0xe001ff82);
	check(!err, "write-combined range at E0000000, 4 MB", "%s", errname(err));
	err = write_msr(rw, QRXVXD_MSR_UWCCR, s.msr[2]);
	check(!err, "the ranges put back", "%s", errname(err));
}

/* Nothing but the features' registers, and PSOR only for reading. */
static void attack_registers(void)
{
	static const uint32_t others[] = { 0x10, 0x1b, 0x174, 0x175, 0x176, 0xc0000081,
					   0xc0000084, QRXVXD_MSR_PSOR };
	struct snapshot s = snap();
	char what[64];
	size_t i;

	for (i = 0; i < COUNT(others); i++) {
		snprintf(what, sizeof(what), "WriteMsr %08X", others[i]);
		refused(write_msr(rw, others[i], 0), EPERM, &s, what);
	}
}

/* A bad output address: the read ran, nothing changed, EFAULT. */
static void attack_addresses(void)
{
	struct snapshot s = snap();
	struct qrxvxd_request req = { .code = QRXVXD_MACHINE, .out_size = 48, .out = 0x1000 };
	uint32_t efer[3] = { QRXVXD_MSR_EFER, 0, 1 };

	refused(ioctl(rw, QRXVXD_REQUEST, &req) ? errno : 0, EFAULT, &s,
		"request 8 to an unmapped address");
	req.code = QRXVXD_WRITE_MSR;
	req.in_size = 12;
	req.in = (uintptr_t)efer + 4096 * 1024 * 1024ull;
	req.out_size = 0;
	req.out = 0;
	refused(ioctl(rw, QRXVXD_REQUEST, &req) ? errno : 0, EFAULT, &s,
		"WriteMsr input above 4 GB");
}

/* What a distribution's secure boot does at start, done here after the module loaded. */
static void lock_down(void)
{
	FILE *f;

	mkdir("/sys/kernel/security", 0755);
	mount("securityfs", "/sys/kernel/security", "securityfs", 0, NULL);
	f = fopen("/sys/kernel/security/lockdown", "w");
	check(f && fputs("integrity", f) >= 0 && !fclose(f), "the kernel locked down (integrity)",
	      NULL);
}

static void attack_lockdown(void)
{
	uint32_t efer[3] = { QRXVXD_MSR_EFER, 0, 0 }, on = 1, out[2];
	struct snapshot s = snap();

	refused(send_request(rw, QRXVXD_WRITE_MSR, efer, 12, NULL, 0), EPERM, &s, "WriteMsr locked down");
	refused(send_request(rw, QRXVXD_SET_L1_CACHE, &on, 4, NULL, 0), EPERM, &s,
		"SetL1Cache locked down");
	refused(port_output(rw, QRXVXD_PM_PORT, 0), EPERM, &s, "Out locked down");
	check(!send_request(rw, QRXVXD_READ_MSR, efer, 4, out, 8), "ReadMsr locked down", NULL);
}

/* Random requests: mostly well formed, with values from every corner. */
static void fuzz(unsigned int seed, long count)
{
	static const uint32_t codes[] = { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xffffffff };
	static const uint32_t sizes[] = { 0, 4, 8, 12, 48, 3, 0x10000, 0xffffffff };
	static const uint32_t regs[] = { QRXVXD_MSR_EFER, QRXVXD_MSR_WHCR, QRXVXD_MSR_UWCCR,
					 QRXVXD_MSR_EPMR, QRXVXD_MSR_PSOR, 0xc0000081, 0x10 };
	static const uint32_t right_in[] = { 0, 4, 12, 4, 0, 4, 4, 8, 0 };
	static const uint32_t right_out[] = { 0, 8, 0, 8, 4, 0, 0, 0, 48 };
	static const uint64_t bad[] = { 0, 0x1000, 0xc0000000u, 0xfffff000u, 0x100000000ull };
	uint32_t in[16], out[16];
	long i;

	srand(seed);
	for (i = 0; i < count; i++) {
		struct qrxvxd_request req;
		size_t k;

		for (k = 0; k < COUNT(in); k++)
			in[k] = (uint32_t)rand() * 2654435761u ^ (uint32_t)rand();
		in[0] = rand() % 4 ? regs[rand() % COUNT(regs)] : in[0];
		if (rand() % 2)
			in[0] = rand() % 2;	/* switches */
		if (rand() % 3 == 0)
			in[0] = 1 + rand() % 1000; /* clock interval, and ports near zero */
		req.code = codes[rand() % COUNT(codes)];
		req.reserved = rand() % 16 == 0;
		if (req.code < COUNT(right_in) && rand() % 8) {
			req.in_size = right_in[req.code];
			req.out_size = right_out[req.code];
		} else {
			req.in_size = sizes[rand() % COUNT(sizes)];
			req.out_size = sizes[rand() % COUNT(sizes)];
		}
		/* Bad addresses never point into this process: the kernel's, unmapped,
		 * beyond 4 GB.
		 */
		req.in = rand() % 16 ? (uintptr_t)in : bad[rand() % COUNT(bad)];
		req.out = rand() % 16 ? (uintptr_t)out : bad[rand() % COUNT(bad)];
		if (!req.in_size && rand() % 4)
			req.in = 0;
		if (!req.out_size && rand() % 4)
			req.out = 0;
		if (req.code == QRXVXD_MEASURE_CLOCK && in[0] > 20)
			in[0] = 20; /* keep the run short */
		ioctl(rand() % 2 ? rw : ro, QRXVXD_REQUEST, &req);
		if (i % 256 == 0 && (read_msr(QRXVXD_MSR_EFER) & 1)) {
			check(0, "fuzz: EFER bit 0 stays clear", "after %ld requests", i);
			return;
		}
	}
}

static void run_fuzzer(long count)
{
	uint32_t on = 1;
	int status, ok = 1, p;
	uint64_t epmr;

	for (p = 0; p < FUZZ_PROCESSES; p++) {
		if (fork() == 0) {
			failures = 0;
			fuzz(1234u + (unsigned int)p, count / FUZZ_PROCESSES);
			_exit(failures ? 1 : 0);
		}
	}
	for (p = 0; p < FUZZ_PROCESSES; p++) {
		wait(&status);
		ok &= WIFEXITED(status) && WEXITSTATUS(status) == 0;
	}
	epmr = read_msr(QRXVXD_MSR_EPMR);
	check(ok && !(read_msr(QRXVXD_MSR_EFER) & 1) &&
		      (!(epmr & 1) || (epmr & 0xfff0) == QRXVXD_PM_BASE),
	      "fuzzer: every process ended, EFER bit 0 clear, EPMR nowhere but FFF0",
	      "%ld requests from %d processes%s, EPMR %llX", count, FUZZ_PROCESSES,
	      ok ? "" : " (one failed)", (unsigned long long)epmr);
	send_request(rw, QRXVXD_SET_L1_CACHE, &on, 4, NULL, 0);
	send_request(rw, QRXVXD_SET_L2_CACHE, &on, 4, NULL, 0);
	check_syscall_traps();
}

int main(int argc, char **argv)
{
	const char *machine_env = getenv("QRX_K6_TEST_MACHINE");
	struct qrxvxd_machine m;
	long ram, count;

	if (!machine_env || strcmp(machine_env, "1") != 0 || argc < 2) {
		fprintf(stderr, "qrxvxd-attack: runs only in the virtual K6 test machine "
				"(QRX_K6_TEST_MACHINE=1 qrxvxd-attack RAM_MB [FUZZ] | lockdown)\n");
		return 2;
	}
	setvbuf(stdout, NULL, _IOLBF, 0);
	if (strcmp(argv[1], "lockdown") == 0) {
		lock_down();
		become_member();
		attack_lockdown();
	} else {
		become_member();
		ram = strtol(argv[1], NULL, 10);
		count = argc > 2 ? strtol(argv[2], NULL, 10) : 0;
		m = machine();
		check((long)m.ram_top_mb == ram, "request 8 reports the installed memory",
		      "%u MiB (expected %ld)", m.ram_top_mb, ram);
		attack_read_only();
		attack_efer();
		attack_ports(&m);
		attack_memory(&m);
		attack_registers();
		attack_addresses();
		if (count > 0)
			run_fuzzer(count);
	}
	printf("qrxvxd-attack: %d checks, %d failed\n", checks, failures);
	return failures ? 1 : 0;
}
