// The repository's Android.bp in Soong's own test fixture, as a device tree would hold it
// (vendor/zelt/animation/, docs/android-image.md): its variants, Make names and install paths,
// and the faults Soong must reject. Run by scripts/soong-check, which prints the "proven:" lines.
package soongcheck

import (
	"fmt"
	"os"
	"os/exec"
	"path/filepath"
	"reflect"
	"regexp"
	"sort"
	"strings"
	"testing"

	"github.com/google/blueprint"

	"android/soong/android"
	"android/soong/cc"
	"android/soong/etc"
)

const dir = "vendor/zelt/animation"

// What docs/android-image.md says of each module that installs a file, per image ("core": the
// normal boot's partitions): its Make name, where it goes in the product's out folder and, for
// the service files, which file of the repository it is.
var installs = []struct{ module, image, makeName, path, src string }{
	{"zelt-animation", "core", "zelt-animation", "system_ext/bin/zelt-animation", ""},
	{"zelt-animation", "recovery", "zelt-animation.recovery", "recovery/root/system/bin/zelt-animation", ""},
	{"zelt-probe", "core", "zelt-probe", "system_ext/bin/zelt-probe", ""},
	{"zelt-probe", "recovery", "zelt-probe.recovery", "recovery/root/system/bin/zelt-probe", ""},
	{"zelt-animation.rc", "core", "zelt-animation.rc", "system_ext/etc/init/zelt-animation.rc", "android/zelt-animation.rc"},
	{"zelt-animation-recovery.rc", "recovery", "zelt-animation-recovery.rc", "recovery/root/system/etc/init/zelt-animation.rc", "android/recovery/zelt-animation.rc"},
}

// The flags docs/android-image.md gives every C++ module (those of CMakeLists.txt), and its
// include folder, the repository's top.
var flags = []string{"-std=c++17", "-Wall", "-Wextra", "-Werror", "-fno-exceptions", "-fno-rtti", "-I" + dir}

// Broken copies of Android.bp (the first FROM replaced by TO) and the error Soong must give.
var broken = []struct{ what, from, to, err string }{
	{"a misspelt property", `sub_dir: "init",`, `subdir: "init",`, `unrecognized property "subdir"`},
	{"a static library without a recovery variant", `name: "libzelt_bmp",`,
		`name: "libzelt_bmp", recovery_available: false,`, `"libzelt_bmp" of "libzelt_screen" missing variant:\s*os:android,image:recovery`},
	{"a missing source file", `"image/bmp_rle8.cpp"`, `"image/bmp_rle9.cpp"`, `source path "` + dir + `/image/bmp_rle9.cpp" does not exist`},
	{"an unknown library", `static_libs: ["libzelt_bmp"],`, `static_libs: ["libzelt_bmpp"],`, `depends on undefined module "libzelt_bmpp"`},
}

var src = os.Getenv("ZELT_SOURCE")

// repository returns every file git tracks, by its path in the fixture.
func repository(t *testing.T) android.MockFS {
	files, err := exec.Command("git", "-C", src, "ls-files", "-z").Output()
	if err != nil {
		t.Fatalf("git ls-files in %q: %v", src, err)
	}
	fs := android.MockFS{}
	for _, name := range strings.Split(strings.TrimRight(string(files), "\x00"), "\x00") {
		fs[dir+"/"+name] = read(t, name)
	}
	return fs
}

func read(t *testing.T, name string) []byte {
	data, err := os.ReadFile(filepath.Join(src, name))
	if err != nil {
		t.Fatal(err)
	}
	return data
}

func run(t *testing.T, fs android.MockFS, errors android.FixtureErrorHandler) *android.TestResult {
	return android.GroupFixturePreparers(cc.PrepareForIntegrationTestWithCc,
		etc.PrepareForTestWithPrebuiltEtc, android.PrepareForTestDisallowNonExistentPaths,
		fs.AddToFixture()).ExtendWithErrorHandler(errors).RunTest(t)
}

type variant struct{ makeName, path, src string }

func TestAndroidBp(t *testing.T) {
	r := run(t, repository(t), android.FixtureExpectsNoErrors)
	// Every variant of each module of the repository's Android.bp, by image.
	got, types, compiled := map[string]map[string][]variant{}, map[string]string{}, 0
	r.VisitAllModules(func(m blueprint.Module) {
		name, sub := r.ModuleName(m), r.ModuleSubDir(m)
		if _, made := m.(android.AndroidMkEntriesProvider); !made || r.ModuleDir(m) != dir {
			return // not a module of the repository, or defaults
		}
		image := "core"
		if strings.Contains(sub, "_recovery_") {
			image = "recovery"
		}
		v := variant{makeName: android.AndroidMkEntriesForTest(t, r.TestContext, m)[0].EntryMap["LOCAL_MODULE"][0]}
		for _, p := range m.(android.Module).FilesToInstall() {
			v.path += strings.TrimPrefix(p.RelativeToTop().String(), "out/soong/target/product/test_device/")
		}
		if types[name] = r.ModuleType(m); types[name] == "prebuilt_etc" {
			v.src = strings.TrimPrefix(r.ModuleForTests(name, sub).Rule(".Cp").Input.String(), dir+"/")
		}
		if strings.HasPrefix(types[name], "cc_") {
			compiled++
			given := strings.Fields(r.ModuleForTests(name, sub).Rule("cc").Args["cFlags"])
			for _, flag := range flags {
				if !android.InList(flag, given) {
					t.Errorf("%s (%s) compiles without %s", name, sub, flag)
				}
			}
		}
		if got[name] == nil {
			got[name] = map[string][]variant{}
		}
		got[name][image] = append(got[name][image], v)
	})
	if !t.Failed() {
		fmt.Printf("proven: all %d variants of the C++ modules compile with %s\n", compiled, strings.Join(flags, " "))
	}
	want := map[string]map[string]variant{}
	for _, i := range installs {
		if want[i.module] == nil {
			want[i.module] = map[string]variant{}
		}
		want[i.module][i.image] = variant{i.makeName, i.path, i.src}
	}
	for name := range want {
		if got[name] == nil {
			t.Errorf("Android.bp has no module %s", name)
		}
	}
	names := []string{}
	for name := range got {
		names = append(names, name)
	}
	sort.Strings(names)
	for _, name := range names {
		w := want[name]
		if w == nil && types[name] == "cc_library_static" {
			w = map[string]variant{"core": {name, "", ""}, "recovery": {name + ".recovery", "", ""}}
		}
		have, facts := map[string]variant{}, []string{}
		for _, image := range []string{"core", "recovery"} {
			for _, v := range got[name][image] {
				if _, seen := have[image]; seen && have[image] != v {
					v = variant{makeName: "variants that differ"}
				}
				have[image] = v
			}
			if v, ok := have[image]; ok {
				facts = append(facts, fmt.Sprintf("%s variant %s installs %s", image, v.makeName, where(v.path)))
			}
		}
		if w == nil {
			t.Errorf("%s (%s): docs/android-image.md says nothing of it", name, types[name])
		} else if !reflect.DeepEqual(have, w) {
			t.Errorf("%s (%s): got %+v, docs/android-image.md wants %+v", name, types[name], have, w)
		} else {
			fmt.Printf("proven: %s (%s): %s\n", name, types[name], strings.Join(facts, "; "))
		}
		// Each service file runs the program where its own image has it.
		for image, v := range have {
			if v.src == "" {
				continue
			}
			for _, service := range regexp.MustCompile(`(?m)^service (\S+) (\S+)`).FindAllStringSubmatch(string(read(t, v.src)), -1) {
				if program := want[service[1]][image].path; onDevice(program) != service[2] {
					t.Errorf("%s runs %s, but %s's %s variant installs %s", v.src, service[2], service[1], image, where(program))
				} else {
					fmt.Printf("proven: %s (module %s) runs %s, where %s's %s variant is\n", v.src, name, service[2], service[1], image)
				}
			}
		}
	}
	// The product makefile's packages are Make names of modules that Soong installs in the recovery
	// image.
	recovery := map[string]bool{}
	for _, images := range got {
		for _, v := range images["recovery"] {
			recovery[v.makeName] = strings.HasPrefix(v.path, "recovery/root/")
		}
	}
	mk := strings.ReplaceAll(string(read(t, "android/zelt-animation.mk")), "\\\n", " ")
	for _, line := range regexp.MustCompile(`(?m)^(PRODUCT_PACKAGES\S*) \+= (.*)$`).FindAllStringSubmatch(mk, -1) {
		for _, name := range strings.Fields(line[2]) {
			if !recovery[name] {
				t.Errorf("android/zelt-animation.mk: %s names %s, which no module installs in the recovery image", line[1], name)
			} else {
				fmt.Printf("proven: android/zelt-animation.mk: %s names %s, which Soong installs in the recovery image\n", line[1], name)
			}
		}
	}
}

// onDevice is the path on the device, in its own image, of a file installed at PATH in the
// product's out folder; where says it in words.
func onDevice(path string) string { return "/" + strings.TrimPrefix(path, "recovery/root/") }

func where(path string) string {
	if path == "" {
		return "nothing"
	} else if strings.HasPrefix(path, "recovery/root/") {
		return "the recovery image's " + onDevice(path)
	}
	return onDevice(path)
}

func TestBrokenAndroidBp(t *testing.T) {
	fs := repository(t)
	for _, b := range broken {
		t.Run(b.what, func(t *testing.T) {
			bp := string(fs[dir+"/Android.bp"])
			if !strings.Contains(bp, b.from) {
				t.Fatalf("Android.bp has no %q to break", b.from)
			}
			copied := android.MockFS{}
			for name, data := range fs {
				copied[name] = data
			}
			copied[dir+"/Android.bp"] = []byte(strings.Replace(bp, b.from, b.to, 1))
			pattern := regexp.MustCompile(b.err)
			for _, err := range run(t, copied, android.FixtureIgnoreErrors).Errs {
				if pattern.MatchString(err.Error()) {
					fmt.Printf("proven: Soong rejects Android.bp with %s: %s\n", b.what,
						strings.Join(strings.Fields(strings.Split(err.Error(), "\navailable variants")[0]), " "))
					return
				}
			}
			t.Errorf("Soong does not reject Android.bp with %s by %q", b.what, b.err)
		})
	}
}
