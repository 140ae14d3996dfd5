// SPDX-License-Identifier: GPL-2.0
/*
 * k6init: the init program of the virtual K6 test machine (static, 32-bit).
 *
 * It prepares the few file systems a test needs, carries out the plan the
 * host wrote into /plan, prints the kernel log and powers the machine off.
 * Everything the host checks is printed between "@@@" marker lines, so the
 * kernel's own console output cannot be mistaken for it.
 *
 * Plan lines (words separated by blanks, 'single quotes' group a word, "#"
 * starts a comment line):
 *
 *   cpu-modules [PARAMS]        load every module whose alias matches the
 *                               processor's modalias (what udev and modprobe
 *                               do at boot), passing PARAMS to each
 *   insmod PATH [PARAMS]        load one module file
 *   run LABEL [VAR=VALUE]... PROGRAM [ARG]...
 *                               run a program with extra environment; its
 *                               standard output, standard error and status
 *                               are printed as
 *                                 @@@ begin LABEL
 *                                 @@@ stdout LABEL ... @@@ stderr LABEL ...
 *                                 @@@ end LABEL status N  (or signal N)
 *                                 @@@ rusage LABEL maxrss N kB
 *
 * Each run step also writes "k6init: begin LABEL" and "k6init: end LABEL" into
 * the kernel log, so the driver's lines can be told apart by the step that
 * caused them.
 *
 * A module load prints "@@@ load PATH: ok" or the errno's name (ENODEV);
 * cpu-modules first prints "@@@ modalias ..." and, per matching alias,
 * "@@@ alias PATTERN matches: module NAME". After the plan the kernel log
 * follows between "@@@ begin dmesg" and "@@@ end dmesg", and "@@@ poweroff"
 * ends the run.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/klog.h>
#include <sys/mount.h>
#include <sys/reboot.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include "errname.h"

#define MAX_WORDS 64
/* syslog(2) actions; glibc names none of them. */
#define SYSLOG_ACTION_READ_ALL 3
#define SYSLOG_ACTION_SIZE_BUFFER 10
/* A program that runs longer than this is stuck; the boot goes on without it. */
#define RUN_TIMEOUT_S 60

static char modules_dir[128];

static void say(const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	printf("@@@ ");
	vprintf(fmt, ap);
	printf("\n");
	fflush(stdout);
	va_end(ap);
}

/* Splits a plan line into words; returns the count, -1 for an open quote. */
static int split(char *line, char **words)
{
	int n = 0;
	char *p = line, *w;

	for (;;) {
		while (*p == ' ' || *p == '\t')
			p++;
		if (!*p || *p == '\n')
			return n;
		if (n == MAX_WORDS - 1)
			return -1;
		w = words[n++] = p;
		while (*p && *p != ' ' && *p != '\t' && *p != '\n') {
			if (*p == '\'') {
				char *end = strchr(p + 1, '\'');

				if (!end)
					return -1;
				memcpy(w, p + 1, end - p - 1);
				w += end - p - 1;
				p = end + 1;
			} else {
				*w++ = *p++;
			}
		}
		if (*p)
			p++;
		*w = '\0';
		words[n] = NULL;
	}
}

static int load_module(const char *path, const char *params)
{
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	int err = 0;

	if (fd < 0 || syscall(SYS_finit_module, fd, params, 0) != 0)
		err = errno;
	if (fd >= 0)
		close(fd);
	say("load %s: %s", path, err ? errname(err) : "ok");
	return err;
}

/* The file of a module by its name, from the depmod-made modules.dep. */
static int module_path(const char *name, char *path, size_t size)
{
	char line[512], file[128];
	FILE *dep;
	int found = 0;

	snprintf(path, size, "%s/modules.dep", modules_dir);
	dep = fopen(path, "r");
	if (!dep)
		return 0;
	while (!found && fgets(line, sizeof(line), dep)) {
		char *colon = strchr(line, ':'), *base;

		if (!colon)
			continue;
		*colon = '\0';
		base = strrchr(line, '/');
		snprintf(file, sizeof(file), "%s.ko", name);
		if (strcmp(base ? base + 1 : line, file) == 0) {
			snprintf(path, size, "%s/%s", modules_dir, line);
			found = 1;
		}
	}
	fclose(dep);
	return found;
}

static void cpu_modules(const char *params)
{
	char modalias[4096], line[512], path[1024];
	FILE *f = fopen("/sys/devices/system/cpu/modalias", "r");
	int matched = 0;

	if (!f || !fgets(modalias, sizeof(modalias), f)) {
		say("cpu-modules: no processor modalias (%s)", errname(errno));
		if (f)
			fclose(f);
		return;
	}
	fclose(f);
	modalias[strcspn(modalias, "\n")] = '\0';
	say("modalias %s", modalias);

	snprintf(path, sizeof(path), "%s/modules.alias", modules_dir);
	f = fopen(path, "r");
	if (!f) {
		say("cpu-modules: %s: %s", path, errname(errno));
		return;
	}
	while (fgets(line, sizeof(line), f)) {
		char pattern[256], name[64];

		if (sscanf(line, "alias %255s %63s", pattern, name) != 2 ||
		    fnmatch(pattern, modalias, 0) != 0)
			continue;
		matched++;
		say("alias %s matches: module %s", pattern, name);
		if (module_path(name, path, sizeof(path)))
			load_module(path, params);
		else
			say("load %s: not in modules.dep", name);
	}
	fclose(f);
	if (!matched)
		say("cpu-modules: no module serves this processor");
}

static void print_file(const char *path)
{
	char buf[4096];
	ssize_t n;
	int fd = open(path, O_RDONLY);

	if (fd < 0)
		return;
	fflush(stdout);
	while ((n = read(fd, buf, sizeof(buf))) > 0)
		if (write(STDOUT_FILENO, buf, n) != n)
			break;
	close(fd);
}

/* One line into the kernel log, between the lines the steps cause there. */
static void mark_kernel_log(const char *what, const char *label)
{
	char line[160];
	int n = snprintf(line, sizeof(line), "<6>k6init: %s %s\n", what, label);
	int fd = open("/dev/kmsg", O_WRONLY | O_CLOEXEC);

	if (n >= (int)sizeof(line))
		n = sizeof(line) - 1;
	/* The kernel takes one record per write. */
	if (fd < 0 || write(fd, line, n) != n)
		say("kernel log mark: %s", errname(errno));
	if (fd >= 0)
		close(fd);
}

static pid_t running;

static void on_alarm(int sig)
{
	(void)sig;
	if (running > 0)
		kill(running, SIGKILL);
}

static void run(char **words, int n)
{
	const char *label = words[0];
	char out[160], err[160];
	struct rusage usage = { 0 };
	int i, status;

	if (n < 2) {
		say("run: a label and a program are needed");
		return;
	}
	snprintf(out, sizeof(out), "/tmp/%s.out", label);
	snprintf(err, sizeof(err), "/tmp/%s.err", label);
	say("begin %s", label);
	fflush(stdout);
	mark_kernel_log("begin", label);
	running = fork();
	if (running == 0) {
		int in = open("/dev/null", O_RDONLY);

		dup2(in, STDIN_FILENO);
		dup2(open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
		dup2(open(err, O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
		for (i = 1; i < n && strchr(words[i], '=') && words[i][0] != '/'; i++)
			putenv(words[i]);
		if (i < n)
			execvp(words[i], &words[i]);
		fprintf(stderr, "k6init: cannot run %s: %s\n",
			i < n ? words[i] : "(nothing)", strerror(errno));
		_exit(127);
	}
	if (running < 0) {
		say("end %s fork failed: %s", label, errname(errno));
		return;
	}
	alarm(RUN_TIMEOUT_S);
	while (wait4(running, &status, 0, &usage) < 0 && errno == EINTR)
		;
	alarm(0);
	running = 0;
	mark_kernel_log("end", label);
	say("stdout %s", label);
	print_file(out);
	say("stderr %s", label);
	print_file(err);
	if (WIFEXITED(status))
		say("end %s status %d", label, WEXITSTATUS(status));
	else
		say("end %s signal %d", label, WTERMSIG(status));
	/* What a K6 owner's memory must hold: the program's peak resident size. */
	say("rusage %s maxrss %ld kB", label, usage.ru_maxrss);
}

static void follow_plan(const char *path)
{
	char line[1024], *words[MAX_WORDS];
	FILE *plan = fopen(path, "r");
	int n;

	if (!plan) {
		say("plan %s: %s", path, errname(errno));
		return;
	}
	while (fgets(line, sizeof(line), plan)) {
		if (line[0] == '#')
			continue;
		n = split(line, words);
		if (n < 0) {
			say("plan: cannot read line: %s", line);
		} else if (n == 0) {
			continue;
		} else if (strcmp(words[0], "cpu-modules") == 0) {
			cpu_modules(n > 1 ? words[1] : "");
		} else if (strcmp(words[0], "insmod") == 0 && n > 1) {
			load_module(words[1], n > 2 ? words[2] : "");
		} else if (strcmp(words[0], "run") == 0) {
			run(words + 1, n - 1);
		} else {
			say("plan: unknown step %s", words[0]);
		}
	}
	fclose(plan);
}

static void print_kernel_log(void)
{
	int size = klogctl(SYSLOG_ACTION_SIZE_BUFFER, NULL, 0);
	char *buf = size > 0 ? malloc(size) : NULL;
	int n = buf ? klogctl(SYSLOG_ACTION_READ_ALL, buf, size) : -1;

	if (n < 0)
		say("kernel log: %s", errname(errno));
	say("begin dmesg");
	if (n > 0) {
		fwrite(buf, 1, n, stdout);
		if (buf[n - 1] != '\n')
			putchar('\n');
	}
	say("end dmesg");
	free(buf);
}

static void mount_or_say(const char *type, const char *dir)
{
	mkdir(dir, 0755);
	if (mount(type, dir, type, 0, NULL) != 0)
		say("mount %s on %s: %s", type, dir, errname(errno));
}

int main(void)
{
	struct sigaction alarm_action = { .sa_handler = on_alarm };
	struct utsname uts;

	mount_or_say("proc", "/proc");
	mount_or_say("sysfs", "/sys");
	mount_or_say("devtmpfs", "/dev");
	mount_or_say("tmpfs", "/tmp");
	sigaction(SIGALRM, &alarm_action, NULL);
	setenv("PATH", "/bin:/sbin:/usr/bin", 1);
	setenv("HOME", "/root", 1);
	uname(&uts);
	snprintf(modules_dir, sizeof(modules_dir), "/lib/modules/%s", uts.release);
	say("k6init on %s %s", uts.sysname, uts.release);

	follow_plan("/plan");
	print_kernel_log();
	say("poweroff");
	sync();
	/*
	 * With -no-reboot a reboot ends the virtual machine; it comes first because a kernel
	 * without ACPI (the K6 kernel) halts on a power-off instead of ending it.
	 */
	reboot(RB_AUTOBOOT);
	reboot(RB_POWER_OFF);
	return 1;
}
